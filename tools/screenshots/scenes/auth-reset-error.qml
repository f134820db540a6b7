import "common"

// The password-reset form with a token that no longer works.
ShellScene {
    guestPage: "reset"
    storeError: "Ссылка для сброса пароля недействительна или устарела"
}
