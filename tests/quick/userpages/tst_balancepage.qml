import QtQuick
import QtTest
import App.Api
import App.Stores
import "qrc:/vpn-client"
import "../stores"

// The balance page's payment link against the real tarvex-vendor-api (and its scripted
// replies): what is opened in the browser, what is shown instead, and an expired
// session. Tables keep one row per line.
Item {
    id: host

    width: 430
    height: 780

    Component {
        id: pageComponent

        BalancePage { anchors.fill: parent }
    }

    StoreTestCase {
        name: "BalancePage"
        when: windowShown

        function initStoreTest() {
            TestSupport.clearOpenedUrls();
        }

        function scriptedReply(status, body) {
            return root + "/dev/reply?status=" + status + "&body=" + encodeURIComponent(JSON.stringify(body)) + "&path=";
        }

        function openPage(account) {
            signIn(account, true);
            const page = createTemporaryObject(pageComponent, host);
            tryVerify(() => !AuthStore.loading, 10000);
            return page;
        }

        // reply: a scripted [status, body] instead of the server's own link; revoked: the
        // session's token was revoked by a password change elsewhere.
        function test_paymentLink_data() {
            return [
                { tag: "the server's link", opened: true, error: "", signedIn: true },
                { tag: "empty link", reply: [200, { "success": true, "data": { "url": "" } }], error: "Сервер не вернул ссылку на оплату", signedIn: true },
                { tag: "server error", reply: [503, { "message": "Платежи временно недоступны" }], error: "Платежи временно недоступны", signedIn: true },
                { tag: "expired session", revoked: true, error: "", signedIn: false }
            ];
        }

        function test_paymentLink(data) {
            const account = newAccount();
            const page = openPage(account);
            if (data.revoked)
                verify(request("PATCH", "/profile/password", { "current_password": password, "password": "a brand new secret", "password_confirmation": "a brand new secret" }, account.token).ok);
            if (data.reply)
                ApiClient.baseUrl = scriptedReply(data.reply[0], data.reply[1]);
            TestSupport.clearRequestLog();
            const button = findChild(page, "paymentButton");
            mouseClick(button);
            verify(button.loading, "loading while the link is fetched");
            tryVerify(() => !button.loading, 10000);

            compare(findChild(page, "paymentError").text, data.error);
            tryVerify(() => AuthStore.isAuthenticated === data.signedIn, 10000);
            const opened = TestSupport.openedUrls;
            compare(opened.length, data.opened ? 1 : 0);
            if (data.opened) {
                verify(opened[0].startsWith(root + "/topup/"), opened[0]);
                const sent = TestSupport.requestLog(1)[0];
                compare([sent.method, sent.path], ["GET", "/api/v1/payment/link"]);
            }
        }

        // A page left while its link was fetched: the link arriving later opens nothing
        // and touches nothing of the page.
        function test_linkForALeftPageIsDropped() {
            const page = openPage(newAccount());
            failOnWarning(/.?/);
            ApiClient.baseUrl = slowServer(200, { "success": true, "data": { "url": "https://pay.example/1" } });
            mouseClick(findChild(page, "paymentButton"));
            page.destroy();
            tryVerify(() => ApiClient.activeRequests === 0, 5000);
            compare(TestSupport.openedUrls, []);
        }
    }
}
