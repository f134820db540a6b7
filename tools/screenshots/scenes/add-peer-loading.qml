import "common"

// The add-peer page while the countries are on their way.
ShellScene {
    user: anna
    appPage: "addPeer"
    apiReplies: ({ "/countries": { "delayMs": -1 } })
}
