import QtQuick
import QtTest
import App.Api
import App.Stores
import "qrc:/vpn-client"

// The balance summary as it reads the user record: numbers given as text the Russian
// way, money in the Russian format, the connections the write-off pays for and their
// plural, the expiry line and the next connection's price.
Item {
    id: host

    width: 430
    height: 780

    Component {
        id: infoComponent

        UserBalanceInfo { width: 320 }
    }

    TestCase {
        name: "UserBalanceInfo"
        when: windowShown

        // Signed out: the card's profile reload sends nothing and leaves the record alone.
        function init() {
            TestSupport.clearSettings(["Auth"]);
            AuthStore.bootstrap();
        }

        // The tariff of the local vendor API unless a row says otherwise.
        function tariff(fields) {
            return Object.assign({ pricePerDayForFirstDevice: 5, pricePerDayForNextDevices: 3, isFirstDevice: false }, fields);
        }

        function test_texts_data() {
            return [
                { tag: "no record", user: null, shown: { connectionCount: "0 соединений", dayWriteOff: "0\u00a0₽", monthlyWriteOff: "/ день · ~0\u00a0₽ / мес", tariff: "0\u00a0₽ за первое + 0\u00a0₽ за остальные", expiry: "Списание начнется после первого соединения", balance: "Всего на балансе: 0,00\u00a0₽", nextConnection: "Следующее соединение: +0\u00a0₽/день (~0\u00a0₽/мес)" } },
                { tag: "text with a space and a comma", user: tariff({ dayWriteOff: "1 234,5", balance: "1 000 000,5" }), shown: { dayWriteOff: "1\u00a0234,50\u00a0₽", monthlyWriteOff: "/ день · ~37\u00a0035\u00a0₽ / мес", balance: "Всего на балансе: 1\u00a0000\u00a0000,50\u00a0₽", connectionCount: "411 соединений" } },
                { tag: "no-break space and tab", user: tariff({ dayWriteOff: "1\u00a0234\t,5" }), shown: { dayWriteOff: "1\u00a0234,50\u00a0₽" } },
                { tag: "only the first comma", user: tariff({ dayWriteOff: "1,234,5", balance: "12,5" }), shown: { dayWriteOff: "0\u00a0₽", connectionCount: "0 соединений", balance: "Всего на балансе: 12,50\u00a0₽" } },
                { tag: "not numbers", user: tariff({ dayWriteOff: "abc", balance: "Infinity", pricePerDayForFirstDevice: null }), shown: { dayWriteOff: "0\u00a0₽", balance: "Всего на балансе: 0,00\u00a0₽", tariff: "0\u00a0₽ за первое + 3\u00a0₽ за остальные" } },
                { tag: "kopecks in prices", user: tariff({ pricePerDayForFirstDevice: "5,5", pricePerDayForNextDevices: 2.25 }), shown: { tariff: "5,50\u00a0₽ за первое + 2,25\u00a0₽ за остальные", nextConnection: "Следующее соединение: +2,25\u00a0₽/день (~67,50\u00a0₽/мес)" } },
                { tag: "whole month of a fraction", user: tariff({ pricePerDayForNextDevices: 0.1 }), shown: { nextConnection: "Следующее соединение: +0,10\u00a0₽/день (~3\u00a0₽/мес)" } },
                { tag: "21 connections", user: tariff({ dayWriteOff: 65 }), shown: { connectionCount: "21 соединение", dayWriteOff: "65\u00a0₽", monthlyWriteOff: "/ день · ~1\u00a0950\u00a0₽ / мес" } },
                { tag: "12 connections", user: tariff({ dayWriteOff: 38 }), shown: { connectionCount: "12 соединений" } },
                { tag: "3 connections", user: tariff({ dayWriteOff: 11 }), shown: { connectionCount: "3 соединения" } },
                { tag: "between two counts", user: tariff({ dayWriteOff: 9.6 }), shown: { connectionCount: "3 соединения" } },
                { tag: "write-off at the first price", user: tariff({ dayWriteOff: 5 }), shown: { connectionCount: "1 соединение" } },
                { tag: "free further devices", user: tariff({ dayWriteOff: 50, pricePerDayForNextDevices: 0 }), shown: { connectionCount: "1 соединение" } },
                { tag: "no write-off", user: tariff({ dayWriteOff: 0 }), shown: { connectionCount: "0 соединений" } },
                { tag: "negative write-off", user: tariff({ dayWriteOff: -8 }), shown: { connectionCount: "0 соединений" } },
                { tag: "first device", user: tariff({ dayWriteOff: 65, isFirstDevice: true }), shown: { connectionCount: "0 соединений", nextConnection: "Первое соединение: +5\u00a0₽/день (~150\u00a0₽/мес)" } },
                { tag: "expiry date", user: tariff({ balanceExpiresAt: "25.07.2031" }), shown: { expiry: "25.07.2031" } },
                { tag: "expiry dash", user: tariff({ balanceExpiresAt: "-" }), shown: { expiry: "Списание начнется после первого соединения" } }
            ];
        }

        function test_texts(data) {
            AuthStore.user = data.user;
            const info = createTemporaryObject(infoComponent, host);
            for (const name of Object.keys(data.shown))
                compare(findChild(info, name).text, data.shown[name], name);
        }

        // Created on a signed-in page, the card shows what the server says now.
        function test_reloadsTheProfile() {
            const root = TestSupport.startVendorApi();
            ApiClient.baseUrl = root + "/api/v1";
            const password = "correct horse battery";
            const reply = [];
            ApiClient.request("POST", "/auth/register", { name: "Анна", email: "balance@example.com", password: password, password_confirmation: password, agree_with_personal_agreement: true, device_name: "test" }, result => reply.push(result));
            tryVerify(() => reply.length === 1 && reply[0].ok, 10000);
            AuthStore.token = reply[0].data.token;
            AuthStore.user = { dayWriteOff: 65, isFirstDevice: false };
            const info = createTemporaryObject(infoComponent, host);
            tryCompare(findChild(info, "nextConnection"), "text", "Первое соединение: +5\u00a0₽/день (~150\u00a0₽/мес)", 10000);
            compare(findChild(info, "connectionCount").text, "0 соединений");
        }
    }
}
