import "common"

// The add-peer page when the countries could not be loaded.
ShellScene {
    // the failure the scene shows, as ApiClient reports it
    readonly property var expectedWarnings: ["[ApiClient] request failed: GET"]

    user: anna
    appPage: "addPeer"
    apiReplies: ({ "/countries": { "status": 503, "body": { "success": false, "message": "Сервис временно недоступен, попробуйте позже" } } })
}
