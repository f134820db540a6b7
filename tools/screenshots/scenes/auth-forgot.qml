import "common"

// The forgotten-password form after the letter went out.
ShellScene {
    guestPage: "forgot"
    storeMessage: "Ссылка для сброса пароля отправлена"
}
