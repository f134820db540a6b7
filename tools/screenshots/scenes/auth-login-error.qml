import "common"

// The sign-in form after a wrong password.
ShellScene {
    storeError: "Неверный email или пароль"
}
