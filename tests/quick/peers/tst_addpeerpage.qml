import QtQuick
import QtTest
import App.Api
import App.Stores
import "qrc:/vpn-client"
import ".."

// The add-peer page: the country list in every shape the API may send, an expired
// sign-in, replies for a page that is gone, and creating a peer on the real vendor API
// by clicks and keys; and the balance summary as it reads the user record.
Item {
    id: host

    width: 430
    height: 780

    Component { id: pageComponent; AddPeerPage { anchors.fill: parent } }
    Component { id: infoComponent; UserBalanceInfo { width: 320 } }
    SignalSpy { id: created; signalName: "peerCreated" }

    ClientTestCase {
        name: "AddPeerPage"

        property var page: null

        function openPage() {
            page = createTemporaryObject(pageComponent, host);
            created.clear();
            created.target = page;
            return page;
        }

        // An expired sign-in signs out and leaves the page to the sign-in it leads to.
        function test_countries_data() {
            const list = [{ id: 1, name: "Нидерланды" }, { id: 2, name: "", title: "Германия" }, { id: 3 }];
            return [
                { tag: "list", status: 200, data: list, names: ["Нидерланды", "Германия", "3"], form: true },
                { tag: "under countries", status: 200, data: { countries: [{ id: 4, name: "США" }] }, names: ["США"], form: true },
                { tag: "other shape", status: 200, data: { items: list }, names: [], form: true, none: true },
                { tag: "server error", status: 503, message: "Сервис недоступен", names: [], form: false, error: "Сервис недоступен" },
                { tag: "expired sign-in", status: 401, names: [], form: false, signedOut: true }
            ];
        }

        function test_countries(data) {
            AuthStore.token = "token";
            replyWith(data.status, { success: data.status === 200, message: data.message || "", data: data.data });
            openPage();
            until(() => ApiClient.activeRequests === 0 && !AuthStore.loading, 10000);
            const box = findChild(page, "countryBox");
            compare([box.model, box.currentIndex], [data.names, data.names.length ? 0 : -1]);
            compare([findChild(page, "form").visible, findChild(page, "noCountries").visible, page.countriesError], [data.form, !!data.none, data.error || ""]);
            compare([logouts.count, AuthStore.isAuthenticated], data.signedOut ? [1, false] : [0, true]);
        }

        // The page was left while its countries loaded, and the user signed in again: the
        // late reply touches neither the page nor the new session.
        function test_lateRepliesForAPageThatIsGone_data() {
            return [{ tag: "countries", status: 200 }, { tag: "expired sign-in", status: 401 }];
        }

        function test_lateRepliesForAPageThatIsGone(data) {
            failOnWarning(/AddPeerPage/);
            AuthStore.token = "old";
            ApiClient.baseUrl = slowServer(data.status, { success: data.status === 200, data: [{ id: 1, name: "США" }] });
            openPage();
            page.destroy();
            AuthStore.token = "new";
            until(() => ApiClient.activeRequests === 0, 10000);
            compare([AuthStore.token, logouts.count], ["new", 0]);
        }

        function chooseCountry(index) {
            const box = findChild(page, "countryBox");
            mouseClick(box);
            tryCompare(box.popup, "opened", true);
            const entries = box.popup.contentItem;
            until(() => entries.itemAtIndex(index) !== null);
            mouseClick(entries.itemAtIndex(index));
            tryCompare(box.popup, "visible", false);
        }

        // A blank name becomes the country's, in the request and in the field. Refused
        // before sending, or by the server, the page stays and says why; the peer list's
        // error of before is not shown.
        function test_create_data() {
            return [
                { tag: "typed name, Return", country: 0, typed: "Office", submitKey: true, name: "Office" },
                { tag: "blank name, button", country: 1, typed: "   ", name: "Германия" },
                { tag: "no country", countries: [], countryError: "Выберите страну", peerError: "" },
                { tag: "country unknown to the server", countries: [{ id: 999, name: "Атлантида" }], countryError: "", peerError: "Страна не найдена" }
            ];
        }

        function test_create(data) {
            signIn(newAccount(), true);
            if (data.countries)
                replyWith(200, { success: true, data: data.countries });
            PeerStore.deletePeer(null); // an error the list page would show
            AuthStore.user = { "isFirstDevice": false };
            openPage();
            tryCompare(page, "countriesLoaded", true, 10000);
            ApiClient.baseUrl = root + "/api/v1";
            // the costs below the form load the account anew: no peer yet
            until(() => !AuthStore.loading && ApiClient.activeRequests === 0, 10000);
            if (!data.countries)
                verify(findChild(page, "nextConnection").text.startsWith("Первое соединение"), "the account as the server has it");
            if (data.country !== undefined)
                chooseCountry(data.country);
            const field = findChild(page, "nameField");
            mouseClick(field);
            keys(data.typed || "");
            if (data.submitKey)
                keyClick(Qt.Key_Return);
            else
                mouseClick(findChild(page, "submitButton"));
            until(() => !PeerStore.loading && ApiClient.activeRequests === 0, 10000);
            const sent = requestLog().filter(entry => entry.method === "POST").map(entry => JSON.parse(entry.body));
            if (!data.name) {
                compare([findChild(page, "countryError").text, findChild(page, "peerError").text, created.count, sent.length], [data.countryError, data.peerError, 0, data.peerError ? 1 : 0]);
                return;
            }
            compare([created.count, sent, field.text], [1, [{ country_id: page.countries[data.country].id, name: data.name }], data.typed.trim() || data.name]);
        }

        // The balance card, signed out: its profile reload sends nothing and leaves the
        // record alone.
        // The tariff of the local vendor API unless a row says otherwise.
        function tariff(fields) {
            return Object.assign({ pricePerDayForFirstDevice: 5, pricePerDayForNextDevices: 3, isFirstDevice: false }, fields);
        }

        function test_balanceTexts_data() {
            return [
                { tag: "no record", user: null, shown: { connectionCount: "0 соединений", dayWriteOff: "0\u00a0₽", monthlyWriteOff: "/ день · ~0\u00a0₽ / мес", tariff: "0\u00a0₽ за первое + 0\u00a0₽ за остальные", expiry: "Списание начнется после первого соединения", balance: "Всего на балансе: 0,00\u00a0₽", nextConnection: "Следующее соединение: +0\u00a0₽/день (~0\u00a0₽/мес)" } },
                { tag: "text with spaces and a comma", user: tariff({ dayWriteOff: "1 234,5", balance: "1\u00a0000\t000,5" }), shown: { dayWriteOff: "1\u00a0234,50\u00a0₽", monthlyWriteOff: "/ день · ~37\u00a0035\u00a0₽ / мес", balance: "Всего на балансе: 1\u00a0000\u00a0000,50\u00a0₽", connectionCount: "411 соединений" } },
                { tag: "only the first comma", user: tariff({ dayWriteOff: "1,234,5", balance: "Infinity" }), shown: { dayWriteOff: "0\u00a0₽", connectionCount: "0 соединений", balance: "Всего на балансе: 0,00\u00a0₽" } },
                { tag: "kopecks in prices", user: tariff({ pricePerDayForFirstDevice: "5,5", pricePerDayForNextDevices: 2.25 }), shown: { tariff: "5,50\u00a0₽ за первое + 2,25\u00a0₽ за остальные", nextConnection: "Следующее соединение: +2,25\u00a0₽/день (~67,50\u00a0₽/мес)" } },
                { tag: "whole month of a fraction", user: tariff({ pricePerDayForNextDevices: 0.1 }), shown: { nextConnection: "Следующее соединение: +0,10\u00a0₽/день (~3\u00a0₽/мес)" } },
                { tag: "21 connections", user: tariff({ dayWriteOff: 65 }), shown: { connectionCount: "21 соединение" } },
                { tag: "12 connections", user: tariff({ dayWriteOff: 38 }), shown: { connectionCount: "12 соединений" } },
                { tag: "3 connections, between two counts", user: tariff({ dayWriteOff: 9.6 }), shown: { connectionCount: "3 соединения" } },
                { tag: "free further devices", user: tariff({ dayWriteOff: 50, pricePerDayForNextDevices: 0 }), shown: { connectionCount: "1 соединение" } },
                { tag: "first device", user: tariff({ dayWriteOff: 65, isFirstDevice: true }), shown: { connectionCount: "0 соединений", nextConnection: "Первое соединение: +5\u00a0₽/день (~150\u00a0₽/мес)" } },
                { tag: "expiry date", user: tariff({ balanceExpiresAt: "25.07.2031" }), shown: { expiry: "25.07.2031" } },
                { tag: "expiry dash", user: tariff({ balanceExpiresAt: "-" }), shown: { expiry: "Списание начнется после первого соединения" } }
            ];
        }

        function test_balanceTexts(data) {
            AuthStore.user = data.user;
            const info = createTemporaryObject(infoComponent, host);
            for (const name of Object.keys(data.shown))
                compare(findChild(info, name).text, data.shown[name], name);
        }
    }
}
