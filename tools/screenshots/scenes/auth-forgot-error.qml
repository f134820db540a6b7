import "common"

// The forgotten-password form with a malformed address.
ShellScene {
    guestPage: "forgot"
    storeError: "Введите корректный email"
}
