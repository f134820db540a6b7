import QtQuick
import App.Api
import App.Stores
import "qrc:/vpn-client"

// A signed-in page at the size the window gives it: below the 82-high header, above the
// 74-high navigation bar, with the content slot's margins. Scenes find the page's parts
// by object name to open its popups and menus.
Rectangle {
    id: frame

    property string title: ""
    default property alias content: slot.data

    color: Themes.canvas

    readonly property var samplePeers: [
        { "id": 11, "name": "Нидерланды, Амстердам", "protocol": "amnezia-v1", "config": "vpn://AAAAnl" },
        { "id": 12, "name": "Германия — домашний роутер и ноутбук в офисе", "protocol": "amnezia-v2", "config": "vpn://AAAAde" },
        { "id": 13, "name": "Финляндия", "protocol": "amnezia-v1", "config": "vpn://AAAAfi" },
        { "id": 14, "name": "США", "protocol": "amnezia-v1", "config": "vpn://AAAAus" }
    ]

    // Signed in to an API that lists these peers.
    function signIn(peers) {
        ApiClient.baseUrl = SceneSupport.replyingServer(200, JSON.stringify({ "success": true, "data": peers })) + "/api/v1";
        AuthStore.token = "scene";
    }

    // Through `data`, which also holds the popups a page declares.
    function find(item, name) {
        if (item.objectName === name)
            return item;
        const children = item.data || [];
        for (let i = 0; i < children.length; ++i) {
            const found = find(children[i], name);
            if (found)
                return found;
        }
        return null;
    }

    Text {
        x: 20
        height: 82
        verticalAlignment: Text.AlignVCenter
        text: frame.title
        color: Themes.textPrimary
        font.pixelSize: 21
        font.weight: Font.DemiBold
    }

    Rectangle {
        y: 81
        width: parent.width
        height: 1
        color: Themes.divider
    }

    Item {
        id: slot

        x: 20
        y: 82 + 20
        width: parent.width - 40
        height: parent.height - 82 - 74 - 40
    }

    Rectangle {
        y: parent.height - 74
        width: parent.width
        height: 1
        color: Themes.divider
    }
}
