import QtQuick
import QtQuick.Layouts
import App.Api
import App.Stores
import "../.."
import "../components/user"

// What the connections cost, and the way to the payment page. The page asks the server
// for a payment link of its own (the browser has no API token) and opens it in the
// system browser.
Item {
    id: page

    property bool linkLoading: false
    property string paymentError: ""
    // The running link request, told when the page goes: its reply then changes nothing.
    property var pendingLink: null

    Component.onDestruction: {
        if (pendingLink)
            pendingLink.abandoned = true;
    }

    function openPaymentLink() {
        paymentError = "";
        linkLoading = true;
        const request = {
            "abandoned": false,
            "token": AuthStore.token
        };
        pendingLink = request;
        ApiClient.request("GET", "/payment/link", null, {
                "token": AuthStore.token,
                "tokenType": AuthStore.tokenType
            }, result => {
                // The user has moved on from a page that is gone; a reply for a session
                // that has ended opens nothing, and its 401 must not sign out the new one.
                if (request.abandoned)
                    return;
                pendingLink = null;
                linkLoading = false;
                if (request.token === AuthStore.token)
                    paymentError = linkOutcome(result);
            });
    }

    // The error to show for a link request's result, after acting on it; "" for none.
    function linkOutcome(result) {
        if (!result.ok) {
            if (result.status === 401) {
                AuthStore.logout();
                return "";
            }
            return result.error;
        }
        const data = result.data;
        const url = data && data.url !== undefined && data.url !== null ? String(data.url) : "";
        if (url === "")
            return qsTr("Сервер не вернул ссылку на оплату");
        if (!Qt.openUrlExternally(url))
            return qsTr("Не удалось открыть ссылку в браузере");
        return "";
    }

    ScrollingColumn {
        anchors.fill: parent

        UserBalanceInfo {
            objectName: "balanceInfo"
        }

        FormMessage {
            objectName: "paymentError"
            type: "error"
            text: page.paymentError
        }

        AppButton {
            objectName: "paymentButton"
            text: qsTr("Управление балансом")
            loading: page.linkLoading
            onClicked: page.openPaymentLink()
        }
    }
}
