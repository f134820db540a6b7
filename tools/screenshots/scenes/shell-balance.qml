import "common"

// The signed-in frame with the "balance" item active.
ShellScene {
    user: anna
    appPage: "balance"
}
