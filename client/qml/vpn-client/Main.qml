import QtQuick
import QtQuick.Controls
import App.Stores

// The window: the signed-out forms, the e-mail verification, or the signed-in pages in
// their frame, chosen from the account store's state, and the busy overlay over all.
// Each page is made anew whenever it comes into view, so what it does on opening it
// does on every visit.
ApplicationWindow {
    id: window

    // "login", "register", "forgot" or "reset"
    property string guestPage: "login"
    // "peers", "addPeer", "balance", "profile" or "splitTunnel"
    property string appPage: "peers"
    readonly property bool vpnConnecting: VpnManager.state === 1
    readonly property bool globalLoading: AuthStore.loading || PeerStore.loading || vpnConnecting
    readonly property bool showsAppPages: AuthStore.isAuthenticated && !AuthStore.needsEmailVerification

    // Set while the account store itself moves to another form: the text it has just
    // set ("Пароль обновлен", the registration's code notice) is meant for that form.
    property bool keepingStatus: false

    width: 430
    height: 780
    minimumWidth: 360
    minimumHeight: 640
    visible: true
    title: Themes.appName
    color: Themes.canvas

    onGuestPageChanged: {
        if (!keepingStatus)
            AuthStore.clearStatus();
    }
    Component.onCompleted: AuthStore.bootstrap()

    function showGuestPageKeepingStatus(page) {
        keepingStatus = true;
        guestPage = page;
        keepingStatus = false;
    }

    function guestComponent(page) {
        switch (page) {
        case "register":
            return registerPage;
        case "forgot":
            return forgotPasswordPage;
        case "reset":
            return resetPasswordPage;
        default:
            return loginPage;
        }
    }

    function appComponent(page) {
        switch (page) {
        case "addPeer":
            return addPeerPage;
        case "balance":
            return balancePage;
        case "profile":
            return profilePage;
        case "splitTunnel":
            return splitTunnelPage;
        default:
            return peersPage;
        }
    }

    Connections {
        target: AuthStore

        function onLoginSucceeded() {
            window.showGuestPageKeepingStatus("login");
            window.appPage = "peers";
        }
        function onLogoutFinished() {
            window.guestPage = "login";
            window.appPage = "peers";
            PeerStore.clearState();
        }
        function onPasswordResetFinished() {
            window.showGuestPageKeepingStatus("login");
        }
        function onEmailVerificationFinished() {
            window.appPage = "peers";
        }
    }

    // The signed-out forms, or the e-mail verification.
    Loader {
        id: content

        objectName: "content"
        anchors.fill: parent
        active: !window.showsAppPages
        visible: active
        focus: active
        sourceComponent: AuthStore.isAuthenticated ? verifyEmailPage : window.guestComponent(window.guestPage)
    }

    // The signed-in pages. The frame stays; the page in it is made anew.
    AuthLayout {
        id: frame

        objectName: "authLayout"
        anchors.fill: parent
        visible: window.showsAppPages
        focus: visible
        currentPage: window.appPage
        onNavigateRequested: page => window.appPage = page

        Loader {
            id: appContent

            objectName: "appContent"
            anchors.fill: parent
            active: frame.visible
            focus: true
            sourceComponent: window.appComponent(window.appPage)
        }

        Connections {
            target: appContent.item
            ignoreUnknownSignals: true

            function onPeerCreated() {
                window.appPage = "peers";
            }
        }
    }

    // The guest pages' requests to move on; each page has some of them.
    Connections {
        target: content.item
        ignoreUnknownSignals: true

        function onRegisterRequested() {
            window.guestPage = "register";
        }
        function onForgotPasswordRequested() {
            window.guestPage = "forgot";
        }
        function onResetRequested() {
            window.guestPage = "reset";
        }
        function onLoginRequested() {
            window.guestPage = "login";
        }
    }

    LoadingOverlay {
        objectName: "busyOverlay"
        z: 1000
        visible: window.globalLoading
        text: window.vpnConnecting ? qsTr("Идет подключение, подождите...") : ""
        // Back to the field the person was typing in when the work began.
        onVisibleChanged: {
            if (!visible)
                (window.showsAppPages ? frame : content).forceActiveFocus();
        }
    }

    Component {
        id: loginPage

        LoginPage {
            objectName: "loginPage"
        }
    }
    Component {
        id: registerPage

        RegisterPage {
            objectName: "registerPage"
        }
    }
    Component {
        id: forgotPasswordPage

        ForgotPasswordPage {
            objectName: "forgotPasswordPage"
        }
    }
    Component {
        id: resetPasswordPage

        ResetPasswordPage {
            objectName: "resetPasswordPage"
        }
    }
    Component {
        id: verifyEmailPage

        VerifyEmailPage {
            objectName: "verifyEmailPage"
        }
    }

    // The signed-in pages.
    Component {
        id: peersPage

        PeersPage {
            objectName: "peersPage"
        }
    }
    Component {
        id: addPeerPage

        AddPeerPage {
            objectName: "addPeerPage"
        }
    }
    Component {
        id: splitTunnelPage

        SplitTunnelPage {
            objectName: "splitTunnelPage"
        }
    }
    Component {
        id: balancePage

        BalancePage {
            objectName: "balancePage"
        }
    }
    Component {
        id: profilePage

        ProfilePage {
            objectName: "profilePage"
        }
    }
}
