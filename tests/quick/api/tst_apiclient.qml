import QtQuick
import QtTest
import App.Api
import ".."

// ApiClient against the real tarvex-vendor-api: what the server receives, and the
// result record of every kind of answer, failure and time-out. The tables keep one
// row per line (qmlformat would spread each over several).
ClientTestCase {
    name: "ApiClient"

    // Sends one request and waits for its callback, which must come after request()
    // has returned. (That the count of requests comes back to 0, the next test's start
    // waits for.)
    function call(method, path, payload, options) {
        const results = [];
        ApiClient.request(method, path, payload, options || {}, result => results.push(result));
        compare(results.length, 0, "the callback waits for the event loop");
        tryVerify(() => results.length > 0, 5000);
        return results[0];
    }

    function initCase() {
        ApiClient.requestTimeoutMs = 15000;
    }

    // Where the request went, and the headers and body the server received: the base
    // and the path joined with one "/", and a payload that is there but falsy still sent
    // as JSON.
    function test_whatTheServerReceives_data() {
        const none = { "authorization": undefined, "content-type": undefined };
        const json = { "content-type": "application/json" };
        return [
            { tag: "defaults, slash after base", base: "/api/v1/", path: "profile", received: "/api/v1/profile?", options: {}, payload: null, body: "", headers: Object.assign({ "accept": "application/json", "x-requested-with": "XMLHttpRequest" }, none) },
            { tag: "slashes on both sides, query", base: "/api/v1//", path: "/peers?page=2", received: "/api/v1/peers?page=2", options: { tokenType: "Token" }, payload: null, body: "", headers: none },
            { tag: "empty path, token and type", path: "", received: "/api/v1?", options: { token: "abc", tokenType: "Token" }, payload: { nested: { list: [1, "два"] } }, body: '{"nested":{"list":[1,"два"]}}', headers: { "authorization": "Token abc", "content-type": "application/json" } },
            { tag: "number as path, zero", base: "/api/v1/peers", path: 0, received: "/api/v1/peers/0?", options: {}, payload: 0, body: "0", headers: json },
            { tag: "absolute URL, empty string", base: "https://unused.invalid/api/v1", path: "ROOT/api/v1/countries", received: "/api/v1/countries?", options: {}, payload: "", body: '""', headers: json },
            { tag: "extra headers", options: { headers: { "X-HTTP-Method-Override": "DELETE", "X-Count": 5, "X-Null": null, "X-Undefined": undefined } }, payload: false, body: "false", headers: { "x-http-method-override": "DELETE", "x-count": "5", "x-null": undefined, "x-undefined": undefined } }
        ];
    }

    function test_whatTheServerReceives(data) {
        const base = data.base || "/api/v1";
        ApiClient.baseUrl = base.startsWith("/") ? root + base : base;
        const path = data.path === undefined ? "/profile" : data.path;
        call("PATCH", typeof path === "string" ? path.replace("ROOT", root) : path, data.payload, data.options);
        const received = requestLog(1)[0];
        compare([received.path + "?" + received.query, received.body], [data.received || "/api/v1/profile?", data.body]);
        // Qt's request object adds ";charset=UTF-8" to the content type of some methods.
        for (const name in data.headers)
            compare(String(received.headers[name]).replace(/;charset=UTF-8$/, ""), String(data.headers[name]), name);
    }

    // Replies of a chosen status and body from the server's /dev/reply.
    function test_resultRecord_data() {
        return [
            { tag: "success with data", status: 200, body: '{"success":true,"data":{"id":7}}', ok: true, error: "", data: { id: 7 } },
            { tag: "envelope false on 200", status: 200, body: '{"success":false,"message":"Отказано"}', ok: false, error: "Отказано" },
            { tag: "success not boolean", status: 200, body: '{"success":"true","data":1}', ok: false, error: "Ошибка запроса (200)", data: 1 },
            { tag: "no envelope", status: 201, body: '{"data":null}', ok: true, error: "", data: null },
            { tag: "204 empty", status: 204, body: "", ok: true, error: "", json: {} },
            { tag: "array body", status: 200, body: "[1,2]", ok: true, error: "", json: [1, 2] },
            { tag: "422 first message of first field", status: 422, body: '{"errors":{"email":["Первое","Второе"],"name":["Имя"]},"message":"Общее"}', ok: false, error: "Первое" },
            { tag: "422 message as text", status: 422, body: '{"errors":{"code":"Неверный код"}}', ok: false, error: "Неверный код" },
            { tag: "422 empty first field", status: 422, body: '{"errors":{"email":[],"name":["Имя"]}}', ok: false, error: "Имя" },
            { tag: "422 only null fields", status: 422, body: '{"errors":{"email":null},"message":"Общее"}', ok: false, error: "Общее" },
            { tag: "500 empty message", status: 500, body: '{"message":""}', ok: false, error: "Ошибка запроса (500)" },
            { tag: "401", status: 401, body: "", ok: false, error: "Необходимо войти заново" }
        ];
    }

    function test_resultRecord(data) {
        const result = call("GET", root + "/dev/reply?status=" + data.status + "&body=" + encodeURIComponent(data.body));
        compare([result.status, result.ok, result.error, result.xhr.status], [data.status, data.ok, data.error, data.status]);
        if (data.hasOwnProperty("json"))
            compare(result.json, data.json);
        compare([result.hasOwnProperty("data"), result.data], [data.hasOwnProperty("data"), data.data]);
    }

    // Nothing listens (the vendor API stopped; the next test starts it again), or the
    // answer comes too late.
    function test_failuresWithoutAnAnswer_data() {
        return [
            { tag: "closed port", url: () => { TestSupport.stopVendorApi(); return root + "/api/v1/peers"; }, error: "Не удалось подключиться к серверу" },
            { tag: "answers after the time-out", url: () => slowServer(200, { success: true }) + "/peers", timeout: 150, error: "Превышено время ожидания ответа сервера" }
        ];
    }

    function test_failuresWithoutAnAnswer(data) {
        ApiClient.requestTimeoutMs = data.timeout || 15000;
        const results = [];
        const started = Date.now();
        ApiClient.request("GET", data.url(), null, result => results.push(result));
        tryVerify(() => results.length > 0, 3000);
        const elapsed = Date.now() - started;
        if (data.timeout)
            verify(elapsed >= data.timeout - 10 && elapsed < 2000, "timed out after " + elapsed + " ms");
        const result = results[0];
        compare([result.ok, result.status, result.error, result.json, result.data], [false, 0, data.error, {}, null]);
        compare(requestLog().length, 0, "nothing reached the vendor API");
        // A late answer is dropped: one callback, and the count of requests back at 0, not
        // below it.
        wait(data.timeout ? 400 : 50);
        compare([results.length, ApiClient.activeRequests], [1, 0]);
    }

    // Hosts that reach this machine's server without being written as loopback: a
    // token sent there would show up in the request log.
    function test_tokenNeverTravelsInClear_data() {
        // Runs before init(): the server may not have been started yet.
        const root = TestSupport.startVendorApi();
        const port = root.slice(root.lastIndexOf(":") + 1);
        return [
            { tag: "any-address host", url: "http://0.0.0.0:" + port + "/api/v1/profile", token: "secret", refused: true },
            { tag: "mapped IPv6 host", url: "http://[::ffff:127.0.0.1]:" + port + "/api/v1/profile", token: "secret", refused: true },
            { tag: "loopback as user name", url: "http://127.0.0.1@0.0.0.0:" + port + "/api/v1/profile", token: "secret", refused: true },
            // the way the stores call: a path joined to a plain base URL
            { tag: "plain base URL", base: "http://0.0.0.0:" + port + "/api/v1", url: "/profile", token: "secret", refused: true },
            { tag: "no token", url: "http://0.0.0.0:" + port + "/api/v1/profile", token: "", refused: false },
            { tag: "localhost", url: "http://localhost:" + port + "/api/v1/profile", token: "secret", refused: false }
        ];
    }

    function test_tokenNeverTravelsInClear(data) {
        if (data.base)
            ApiClient.baseUrl = data.base;
        const result = call("GET", data.url, null, { token: data.token });
        if (data.refused) {
            compare([result.ok, result.status, result.error, result.xhr], [false, 0, "Запрос не отправлен: токен нельзя передавать по незащищенному соединению (http)", null]);
            compare(requestLog().length, 0);
        } else {
            compare([result.ok, result.status], [false, 401]);
            compare(requestLog(1)[0].headers["authorization"], data.token ? "Bearer " + data.token : undefined);
        }
    }
}
