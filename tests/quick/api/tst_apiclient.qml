import QtQuick
import QtTest
import App.Api

// ApiClient against the real tarvex-vendor-api: what the server receives, and the
// result record of every kind of answer, failure and time-out. The tables keep one
// row per line (qmlformat would spread each over several).
TestCase {
    id: testCase

    property string root: ""
    property string initialBaseUrl: ""
    property int lowestActive: 0
    property int highestActive: 0

    // Sends one request, waits for its callback and checks that it came once, after
    // request() had returned.
    function call(method, path, payload, options) {
        const results = [];
        ApiClient.request(method, path, payload, options || {}, result => results.push(result));
        compare(results.length, 0, "the callback waits for the event loop");
        tryVerify(() => results.length > 0, 5000);
        wait(50);
        compare(results.length, 1, "exactly one callback");
        compare(ApiClient.activeRequests, 0);
        return results[0];
    }

    function lastReceived() {
        const log = TestSupport.requestLog(1);
        verify(log.length === 1, "the server received the request");
        return log[0];
    }

    // Qt's request object adds ";charset=UTF-8" to the content type of some methods.
    function withoutCharset(value) {
        return typeof value === "string" ? value.replace(/;charset=UTF-8$/, "") : value;
    }

    function initTestCase() {
        initialBaseUrl = ApiClient.baseUrl;
        root = TestSupport.startVendorApi();
        verify(root !== "", "tarvex-vendor-api started");
    }

    function init() {
        ApiClient.baseUrl = root + "/api/v1";
        ApiClient.requestTimeoutMs = 15000;
        TestSupport.clearRequestLog();
        lowestActive = 0;
        highestActive = 0;
    }

    function test_defaultBaseUrlIsTheVendorsHttpsApi() {
        compare(initialBaseUrl, "https://" + BuildConfig.vendorDomain + "/api/v1");
    }

    function test_urlJoining_data() {
        return [
            { tag: "slash after base", base: "/api/v1/", path: "peers", received: "/api/v1/peers", query: "" },
            { tag: "slashes on both sides", base: "/api/v1//", path: "/peers", received: "/api/v1/peers", query: "" },
            { tag: "empty path", base: "/api/v1", path: "", received: "/api/v1", query: "" },
            { tag: "query kept", base: "/api/v1", path: "/peers?page=2", received: "/api/v1/peers", query: "page=2" },
            { tag: "number as path", base: "/api/v1/peers", path: 0, received: "/api/v1/peers/0", query: "" },
            { tag: "absolute URL", base: "https://unused.invalid/api/v1", path: "ROOT/api/v1/countries", received: "/api/v1/countries", query: "" }
        ];
    }

    function test_urlJoining(data) {
        ApiClient.baseUrl = data.base.startsWith("/") ? root + data.base : data.base;
        call("GET", typeof data.path === "string" ? data.path.replace("ROOT", root) : data.path);
        const received = lastReceived();
        compare(received.path, data.received);
        compare(received.query, data.query);
    }

    function test_headersAsReceived_data() {
        return [
            { tag: "defaults", options: {}, payload: null, expected: { "accept": "application/json", "x-requested-with": "XMLHttpRequest", "authorization": undefined, "content-type": undefined } },
            { tag: "token", options: { token: "abc" }, payload: null, expected: { "authorization": "Bearer abc" } },
            { tag: "token type", options: { token: "abc", tokenType: "Token" }, payload: null, expected: { "authorization": "Token abc" } },
            { tag: "type without token", options: { tokenType: "Token" }, payload: null, expected: { "authorization": undefined } },
            { tag: "payload", options: {}, payload: {}, expected: { "content-type": "application/json" } },
            { tag: "extra headers", options: { headers: { "X-HTTP-Method-Override": "DELETE", "X-Count": 5, "X-Null": null, "X-Undefined": undefined } }, payload: null, expected: { "x-http-method-override": "DELETE", "x-count": "5", "x-null": undefined, "x-undefined": undefined } }
        ];
    }

    function test_headersAsReceived(data) {
        call(data.payload === null ? "GET" : "POST", "/profile", data.payload, data.options);
        const headers = lastReceived().headers;
        for (const name in data.expected)
            compare(withoutCharset(headers[name]), data.expected[name], name);
    }

    function test_jsonBodies_data() {
        return [
            { tag: "object", payload: { email: "a@example.com", remember: true, nested: { list: [1, "два"] } } },
            { tag: "array", payload: [1, 2] },
            { tag: "zero", payload: 0 },
            { tag: "false", payload: false },
            { tag: "empty string", payload: "" },
            { tag: "null", payload: null },
            { tag: "undefined", payload: undefined }
        ];
    }

    function test_jsonBodies(data) {
        call("PATCH", "/profile", data.payload, {});
        const received = lastReceived();
        const noBody = data.payload === null || data.payload === undefined;
        compare(received.body, noBody ? "" : JSON.stringify(data.payload));
        compare(withoutCharset(received.headers["content-type"]), noBody ? undefined : "application/json");
    }

    // Replies of a chosen status and body from the server's /dev/reply.
    function test_resultRecord_data() {
        return [
            { tag: "success with data", status: 200, body: '{"success":true,"data":{"id":7}}', ok: true, error: "", data: { id: 7 } },
            { tag: "envelope false on 200", status: 200, body: '{"success":false,"message":"Отказано"}', ok: false, error: "Отказано" },
            { tag: "envelope false, no text", status: 200, body: '{"success":false}', ok: false, error: "Ошибка запроса (200)" },
            { tag: "success not boolean", status: 200, body: '{"success":"true","data":1}', ok: false, error: "Ошибка запроса (200)", data: 1 },
            { tag: "no envelope", status: 201, body: '{"data":null}', ok: true, error: "", data: null },
            { tag: "204 empty", status: 204, body: "", ok: true, error: "", json: {} },
            { tag: "not JSON", status: 200, body: "<html>", ok: true, error: "", json: {} },
            { tag: "array body", status: 200, body: "[1,2]", ok: true, error: "", json: [1, 2] },
            { tag: "422 first message of first field", status: 422, body: '{"errors":{"email":["Первое","Второе"],"name":["Имя"]},"message":"Общее"}', ok: false, error: "Первое" },
            { tag: "422 message as text", status: 422, body: '{"errors":{"code":"Неверный код"}}', ok: false, error: "Неверный код" },
            { tag: "422 empty first field", status: 422, body: '{"errors":{"email":[],"name":["Имя"]}}', ok: false, error: "Имя" },
            { tag: "422 only null fields", status: 422, body: '{"errors":{"email":null},"message":"Общее"}', ok: false, error: "Общее" },
            { tag: "500 message", status: 500, body: '{"message":"Сломалось"}', ok: false, error: "Сломалось" },
            { tag: "500 empty message", status: 500, body: '{"message":""}', ok: false, error: "Ошибка запроса (500)" },
            { tag: "401", status: 401, body: "", ok: false, error: "Необходимо войти заново" },
            { tag: "403", status: 403, body: "{}", ok: false, error: "Доступ запрещен" },
            { tag: "419", status: 419, body: "", ok: false, error: "Сервер отклонил запрос авторизации" },
            { tag: "429", status: 429, body: "", ok: false, error: "Слишком много попыток. Попробуйте позже" },
            { tag: "404", status: 404, body: "", ok: false, error: "Ошибка запроса (404)" }
        ];
    }

    function test_resultRecord(data) {
        const result = call("GET", root + "/dev/reply?status=" + data.status + "&body=" + encodeURIComponent(data.body));
        compare(result.status, data.status);
        compare(result.ok, data.ok);
        compare(result.error, data.error);
        compare(result.xhr.status, data.status);
        if (data.hasOwnProperty("json"))
            compare(result.json, data.json);
        compare(result.hasOwnProperty("data"), data.hasOwnProperty("data"));
        if (data.hasOwnProperty("data"))
            compare(result.data, data.data);
    }

    function test_realAccountReplies() {
        const email = "apiclient@example.com";
        const registration = { name: "Анна", email: email, password: "correct horse battery", password_confirmation: "correct horse battery", agree_with_personal_agreement: true, device_name: "vpn-client" };
        const created = call("POST", "/auth/register", registration);
        compare(created.status, 201);
        verify(created.ok);
        const profile = call("GET", "/profile", null, { token: created.data.token, tokenType: created.data.token_type });
        verify(profile.ok);
        compare(profile.data.email, email);
        const taken = call("POST", "/auth/register", registration);
        compare(taken.status, 422);
        compare(taken.error, "Этот email уже зарегистрирован");
        compare(TestSupport.outbox(email).length, 1);
    }

    function test_transportErrorOnAClosedPort() {
        const result = call("GET", TestSupport.closedPortUrl() + "/api/v1/peers");
        compare([result.ok, result.status, result.error, result.json, result.data], [false, 0, "Не удалось подключиться к серверу", {}, null]);
    }

    function test_timeOutAndTheLateReplyIgnored_data() {
        return [
            { tag: "never answers", answerAfterMs: -1 },
            { tag: "answers after the time-out", answerAfterMs: 500 }
        ];
    }

    function test_timeOutAndTheLateReplyIgnored(data) {
        const connectionsBefore = TestSupport.stalledConnections();
        ApiClient.baseUrl = TestSupport.startStallingServer(data.answerAfterMs) + "/api/v1";
        ApiClient.requestTimeoutMs = 200;
        const results = [];
        const started = Date.now();
        ApiClient.request("GET", "/peers", null, result => results.push(result));
        tryVerify(() => results.length > 0, 3000);
        const elapsed = Date.now() - started;
        verify(elapsed >= 190 && elapsed < 2000, "timed out after " + elapsed + " ms");
        const result = results[0];
        compare([result.ok, result.status, result.error, result.json, result.data], [false, 0, "Превышено время ожидания ответа сервера", {}, null]);
        compare(TestSupport.stalledConnections(), connectionsBefore + 1);
        wait(800);
        compare(results.length, 1);
        compare(ApiClient.activeRequests, 0);
        compare(lowestActive, 0);
    }

    // Hosts that reach this machine's server without being written as loopback: a
    // token sent there would show up in the request log.
    function test_tokenNeverTravelsInClear_data() {
        const port = root.slice(root.lastIndexOf(":") + 1);
        return [
            { tag: "any-address host", url: "http://0.0.0.0:" + port + "/api/v1/profile", token: "secret", refused: true },
            { tag: "mapped IPv6 host", url: "http://[::ffff:127.0.0.1]:" + port + "/api/v1/profile", token: "secret", refused: true },
            { tag: "loopback as user name", url: "http://127.0.0.1@0.0.0.0:" + port + "/api/v1/profile", token: "secret", refused: true },
            { tag: "plain base URL", base: "http://0.0.0.0:" + port + "/api/v1", url: "/profile", token: "secret", refused: true },
            { tag: "no token", url: "http://0.0.0.0:" + port + "/api/v1/profile", token: "", refused: false },
            { tag: "127.0.0.1", url: root + "/api/v1/profile", token: "secret", refused: false },
            { tag: "localhost", url: "http://localhost:" + port + "/api/v1/profile", token: "secret", refused: false }
        ];
    }

    function test_tokenNeverTravelsInClear(data) {
        if (data.base)
            ApiClient.baseUrl = data.base;
        const result = call("GET", data.url, null, { token: data.token });
        compare(result.ok, false);
        if (data.refused) {
            compare(result.status, 0);
            compare(result.error, "Запрос не отправлен: токен нельзя передавать по незащищенному соединению (http)");
            compare(result.xhr, null);
            compare(TestSupport.requestLog().length, 0);
        } else {
            compare(result.status, 401);
            compare(lastReceived().headers["authorization"], data.token ? "Bearer " + data.token : undefined);
        }
    }

    function test_fiftyConcurrentRequests() {
        const results = [];
        for (let i = 0; i < 50; ++i) {
            const path = i % 2 ? "/countries" : root + "/dev/reply?status=200&body=" + i;
            ApiClient.request("GET", path, null, result => results.push(result));
        }
        compare(ApiClient.activeRequests, 50);
        verify(ApiClient.loading);
        tryVerify(() => results.length === 50, 10000);
        wait(50);
        compare(results.length, 50);
        compare(ApiClient.activeRequests, 0);
        verify(!ApiClient.loading);
        compare([lowestActive, highestActive], [0, 50]);
        compare(results.filter(result => result.status === 401).length, 25);
        compare(results.filter(result => result.ok).length, 25);
    }

    function test_callbackInPlaceOfTheOptions() {
        const first = [];
        const second = [];
        ApiClient.request("GET", "/countries", null, result => first.push(result), result => second.push(result));
        tryVerify(() => first.length > 0, 5000);
        wait(50);
        compare([first.length, second.length], [1, 0]);
        compare(lastReceived().headers["authorization"], undefined);
    }

    function test_unsupportedMethodStillCallsBack() {
        const result = call("TRACE", "/countries");
        compare([result.ok, result.status, result.error], [false, 0, "Не удалось подключиться к серверу"]);
        compare(TestSupport.requestLog().length, 0);
    }

    name: "ApiClient"

    Connections {
        function onActiveRequestsChanged() {
            testCase.lowestActive = Math.min(testCase.lowestActive, ApiClient.activeRequests);
            testCase.highestActive = Math.max(testCase.highestActive, ApiClient.activeRequests);
        }

        target: ApiClient
    }
}
