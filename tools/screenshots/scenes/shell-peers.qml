import "common"

// The signed-in frame with the "peers" item active.
ShellScene {
    user: anna
    appPage: "peers"
}
