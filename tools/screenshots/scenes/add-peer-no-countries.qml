import "common"

// The add-peer page of a new account when the API has no country to offer.
ShellScene {
    user: ({ "name": "Анна", "email": "anna@example.com", "email_verified_at": "2024-05-01", "balance": 0, "dayWriteOff": 0, "pricePerDayForFirstDevice": 5, "pricePerDayForNextDevices": 3, "isFirstDevice": true, "balanceExpiresAt": "-" })
    appPage: "addPeer"
    countries: []
}
