import "common"

// The signed-in frame with the "addPeer" item active.
ShellScene {
    user: anna
    appPage: "addPeer"
}
