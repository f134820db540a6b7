import "common"

// The add-peer page with the API's countries, for an account paying for three connections.
ShellScene {
    user: anna
    appPage: "addPeer"
}
