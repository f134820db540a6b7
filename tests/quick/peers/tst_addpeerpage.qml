import QtQuick
import QtTest
import App.Api
import App.Stores
import "qrc:/vpn-client"
import "../stores"

// The add-peer page: the country list in every shape the API may send, an expired
// sign-in, and creating a peer on the real vendor API by clicks and keys.
Item {
    id: host

    width: 430
    height: 780

    Component {
        id: pageComponent

        AddPeerPage { anchors.fill: parent }
    }

    StoreTestCase {
        name: "AddPeerPage"
        when: windowShown

        property var page: null

        SignalSpy { id: created; signalName: "peerCreated" }
        SignalSpy { id: logoutSpy; target: AuthStore; signalName: "logoutFinished" }

        function initStoreTest() {
            logoutSpy.clear();
        }

        // Every request answered with this status and body, from the server's /dev/reply.
        function replyWith(status, body) {
            ApiClient.baseUrl = root + "/dev/reply?status=" + status + "&body=" + encodeURIComponent(JSON.stringify(body)) + "&path=";
        }

        function openPage() {
            page = createTemporaryObject(pageComponent, host);
            created.clear();
            created.target = page;
            verify(findChild(page, "countriesLoading").visible, "the spinner shows while the countries load");
            return page;
        }

        function countryNames() {
            const box = findChild(page, "countryBox");
            return [box.model, box.currentIndex];
        }

        function test_countries_data() {
            const list = [{ id: 1, name: "Нидерланды" }, { id: 2, name: "", title: "Германия" }, { id: 3 }];
            return [
                { tag: "list", status: 200, data: list, names: [["Нидерланды", "Германия", "3"], 0], form: true },
                { tag: "under countries", status: 200, data: { countries: [{ id: 4, name: "США" }] }, names: [["США"], 0], form: true },
                { tag: "other shape", status: 200, data: { items: list }, names: [[], -1], form: true, none: true },
                { tag: "server error", status: 503, message: "Сервис недоступен", names: [[], -1], form: false, error: "Сервис недоступен" }
            ];
        }

        function test_countries(data) {
            AuthStore.token = "token";
            replyWith(data.status, { success: data.status === 200, message: data.message || "", data: data.data });
            openPage();
            tryCompare(page, "countriesLoading", false, 10000);
            compare(countryNames(), data.names);
            compare([findChild(page, "form").visible, findChild(page, "noCountries").visible, findChild(page, "countriesError").text], [data.form, !!data.none, data.error || ""]);
        }

        // The page is left to the sign-in it leads to: no error, no form.
        function test_expiredSignInSignsOut() {
            AuthStore.token = "expired";
            replyWith(401, { success: false, message: "Unauthenticated." });
            openPage();
            tryCompare(AuthStore, "isAuthenticated", false, 10000);
            compare([logoutSpy.count, page.countriesError, findChild(page, "form").visible], [1, "", false]);
        }

        // The user signed out and in again while the old session's countries loaded.
        function test_lateExpiryLeavesTheNewSession() {
            AuthStore.token = "old";
            ApiClient.baseUrl = TestSupport.startStallingServer(300, 401, JSON.stringify({ success: false })) + "/api/v1";
            openPage();
            page.destroy();
            AuthStore.token = "new";
            tryCompare(ApiClient, "activeRequests", 0, 10000);
            compare([AuthStore.token, logoutSpy.count], ["new", 0]);
        }

        function chooseCountry(index) {
            const box = findChild(page, "countryBox");
            mouseClick(box);
            tryCompare(box.popup, "opened", true);
            const entries = box.popup.contentItem;
            tryVerify(() => entries.itemAtIndex(index) !== null);
            mouseClick(entries.itemAtIndex(index));
            tryCompare(box.popup, "visible", false);
            compare(box.currentIndex, index);
        }

        // A blank name becomes the country's, in the request and in the field.
        function test_create_data() {
            return [
                { tag: "typed name, Return", country: 0, typed: "Office", submitKey: true, name: "Office" },
                { tag: "blank name, button", country: 1, typed: "   ", name: "Германия" }
            ];
        }

        function test_create(data) {
            signIn(newAccount(), true);
            openPage();
            tryCompare(page, "countriesLoaded", true, 10000);
            chooseCountry(data.country);
            const field = findChild(page, "nameField");
            mouseClick(field);
            for (const character of data.typed)
                keyClick(character);
            if (data.submitKey)
                keyClick(Qt.Key_Return);
            else
                mouseClick(findChild(page, "submitButton"));
            tryCompare(created, "count", 1, 10000);
            const sent = TestSupport.requestLog().filter(entry => entry.method === "POST").map(entry => JSON.parse(entry.body));
            compare(sent, [{ country_id: page.countries[data.country].id, name: data.name }]);
            compare(field.text, data.typed.trim() || data.name);
        }

        // Refused before sending, or by the server: the page stays and says why.
        function test_refused_data() {
            return [
                { tag: "no country", countries: [], countryError: "Выберите страну", peerError: "", sent: 0 },
                { tag: "country unknown to the server", countries: [{ id: 999, name: "Атлантида" }], countryError: "", peerError: "Страна не найдена", sent: 1 }
            ];
        }

        function test_refused(data) {
            signIn(newAccount(), true);
            replyWith(200, { success: true, data: data.countries });
            openPage();
            tryCompare(page, "countriesLoaded", true, 10000);
            ApiClient.baseUrl = root + "/api/v1";
            TestSupport.clearRequestLog();
            mouseClick(findChild(page, "submitButton"));
            tryVerify(() => !PeerStore.loading, 10000);
            compare([findChild(page, "countryError").text, findChild(page, "peerError").text, created.count], [data.countryError, data.peerError, 0]);
            compare(received().filter(line => line.startsWith("POST")).length, data.sent);
        }
    }
}
