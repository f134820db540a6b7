import "common"

// The signed-in frame with the "profile" item active.
ShellScene {
    user: anna
    appPage: "profile"
}
