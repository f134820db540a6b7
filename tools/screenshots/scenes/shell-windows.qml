import "common"

// On Windows: no split-tunnelling item; an account without a name or a balance.
ShellScene {
    user: ({ "email": "anna.smirnova.long.address@example.com", "email_verified_at": "2024-05-01" })
    os: "windows"
}
