import "common"

// The e-mail verification right after registering.
ShellScene {
    user: ({ "name": "Анна", "email": "anna@example.com", "email_verified_at": null })
    storeMessage: "Аккаунт создан. Код подтверждения отправлен на email"
}
