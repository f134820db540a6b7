import "common"

// The sign-in form right after signing out.
ShellScene {
    storeMessage: "Вы вышли из аккаунта"
}
