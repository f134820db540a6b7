import "common"

// The pointer resting on the balance item: its title as a tooltip, a hover look on it.
ShellScene {
    user: anna
    // the fourth of five equal items in the bar along the bottom
    hoverAt: Qt.point(10 + (width - 20 + 6) * 3.5 / 5, height - 37)
}
