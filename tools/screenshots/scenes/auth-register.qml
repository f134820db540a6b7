import "common"

// The registration form.
ShellScene {
    guestPage: "register"
}
