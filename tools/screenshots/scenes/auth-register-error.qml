import "common"

// The registration form sent without the agreement.
ShellScene {
    guestPage: "register"
    storeError: "Необходимо принять оферту и соглашение"
}
