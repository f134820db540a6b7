import "common"

// The password-reset form.
ShellScene {
    guestPage: "reset"
}
