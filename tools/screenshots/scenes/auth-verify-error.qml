import "common"

// The e-mail verification after a wrong code.
ShellScene {
    user: ({ "name": "Анна", "email": "anna@example.com", "email_verified_at": null })
    storeError: "Неверный код подтверждения"
}
