import "common"

// The peer list loading: the whole window blocked, a bare spinner.
ShellScene {
    user: anna
    peersLoading: true
}
