import "common"

// The rename popup after the server refused the save.
ShellScene {
    id: scene

    user: anna
    peers: annasPeers
    onApplied: {
        const popup = scene.find("editPopup");
        popup.openForPeer(annasPeers[2]);
        popup.errorText = "Соединение не найдено";
    }
}
