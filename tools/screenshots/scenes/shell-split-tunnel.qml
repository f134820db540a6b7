import "common"

// The signed-in frame with the "splitTunnel" item active.
ShellScene {
    user: anna
    appPage: "splitTunnel"
}
