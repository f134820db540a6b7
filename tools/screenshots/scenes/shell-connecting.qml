import "common"

// Connecting: the whole window blocked, with the connecting text.
ShellScene {
    user: anna
    vpnState: 1
}
