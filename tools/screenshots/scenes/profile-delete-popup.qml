import "common"

// The account deletion popup over the profile page, after a wrong password.
ShellScene {
    id: scene

    user: anna
    appPage: "profile"

    onApplied: {
        const popup = scene.find("deleteForm").popup;
        popup.openForDeletion();
        popup.password = "not my password";
        popup.errorText = "Неверный пароль";
    }
}
