pragma Singleton
import QtQml
// The module's own C++ singleton (BuildConfig) is visible only through an import.
import App.Api

// The one place where the interface talks HTTP to the vendor's REST API. Every request
// ends in exactly one callback with a result record { ok, json, data, status, error,
// xhr }, at the latest after requestTimeoutMs; nothing is retried and nothing thrown.
QtObject {
    id: apiClient

    property string baseUrl: BuildConfig.apiBaseUrl
    property int activeRequests: 0
    property int requestTimeoutMs: 15000
    readonly property bool loading: activeRequests > 0

    // One per request: its time-out, or the asynchronous end of a request that was
    // never sent.
    readonly property Component timerComponent: Component {
        Timer {
            repeat: false
        }
    }

    // method: "GET", "POST", "PATCH" or "DELETE"; path relative to baseUrl or an
    // absolute http(s) URL; payload: anything JSON can carry, or null for no body;
    // options: { token, tokenType, headers }, or the callback itself.
    function request(method, path, payload, options, callback) {
        if (typeof options === "function") {
            callback = options;
            options = {};
        }
        options = options || {};
        const token = options.token ? String(options.token) : "";
        const tokenType = options.tokenType ? String(options.tokenType) : "Bearer";
        const headers = options.headers || {};
        const hasPayload = payload !== null && payload !== undefined;
        const url = urlFor(path);
        activeRequests += 1;
        let xhr = null;
        let finished = false;
        let abandoned = false;
        let earlyResult = null;
        const timer = timerComponent.createObject(apiClient, {
                "interval": requestTimeoutMs
            });
        function failure(status, error) {
            return {
                "ok": false,
                "json": {},
                "data": null,
                "status": status,
                "error": error,
                "xhr": xhr
            };
        }
        function finish(result) {
            if (finished)
                return;
            finished = true;
            timer.stop();
            timer.destroy();
            activeRequests = Math.max(0, activeRequests - 1);
            if (!result.ok)
                console.warn("[ApiClient] request failed:", method, url, result.status);
            if (typeof callback === "function")
                callback(result);
        }
        // Callers always hear back from the event loop, never from inside request().
        function finishSoon(result) {
            earlyResult = result;
            timer.stop();
            timer.interval = 0;
            timer.start();
        }
        timer.triggered.connect(function () {
                if (earlyResult) {
                    finish(earlyResult);
                    return;
                }
                // Abandoned first: aborting may report the request done at once.
                abandoned = true;
                try {
                    xhr.abort();
                } catch (error) {
                }
                finish(failure(0, qsTr("Превышено время ожидания ответа сервера")));
            });
        if (token !== "" && sendsInClear(url)) {
            finishSoon(failure(0, qsTr("Запрос не отправлен: токен нельзя передавать по незащищенному соединению (http)")));
            return;
        }
        xhr = new XMLHttpRequest();
        xhr.onreadystatechange = function () {
            if (xhr.readyState !== XMLHttpRequest.DONE || finished || abandoned)
                return;
            finish(xhr.status === 0 ? failure(0, qsTr("Не удалось подключиться к серверу")) : responseResult(xhr));
        };
        try {
            xhr.open(method, url);
            xhr.setRequestHeader("Accept", "application/json");
            xhr.setRequestHeader("X-Requested-With", "XMLHttpRequest");
            if (hasPayload)
                xhr.setRequestHeader("Content-Type", "application/json");
            if (token !== "")
                xhr.setRequestHeader("Authorization", tokenType + " " + token);
            for (const name in headers) {
                const value = headers[name];
                if (value !== null && value !== undefined)
                    xhr.setRequestHeader(name, String(value));
            }
            timer.start();
            if (hasPayload)
                xhr.send(JSON.stringify(payload));
            else
                xhr.send();
        } catch (error) {
            // An unsupported method or a malformed URL: nothing went out.
            console.warn("[ApiClient] request not sent:", method, url, error);
            finishSoon(failure(0, qsTr("Не удалось подключиться к серверу")));
        }
    }

    function urlFor(path) {
        const text = path === null || path === undefined ? "" : String(path);
        if (/^https?:\/\//i.test(text))
            return text;
        let base = String(baseUrl);
        while (base.endsWith("/"))
            base = base.slice(0, -1);
        if (text === "")
            return base;
        return base + (text.startsWith("/") ? text : "/" + text);
    }

    // Plain http to anything but this machine: a token sent there could be read by
    // anyone on the way.
    function sendsInClear(url) {
        const authority = /^http:\/\/([^\/?#]*)/i.exec(url);
        if (!authority)
            return false;
        let host = authority[1];
        if (/[\\\s]/.test(host))
            return true;
        host = host.slice(host.lastIndexOf("@") + 1).toLowerCase();
        if (host.startsWith("["))
            host = host.slice(1, host.indexOf("]"));
        else if (host.indexOf(":") >= 0)
            host = host.slice(0, host.indexOf(":"));
        return !(host === "localhost" || host === "::1" || /^127\.\d{1,3}\.\d{1,3}\.\d{1,3}$/.test(host));
    }

    function responseResult(xhr) {
        const json = parseBody(xhr.responseText);
        const isObject = typeof json === "object" && !Array.isArray(json);
        const status = xhr.status;
        const ok = status >= 200 && status <= 299 && !(isObject && json.hasOwnProperty("success") && json.success !== true);
        const result = {
            "ok": ok,
            "json": json,
            "status": status,
            "error": ok ? "" : errorText(status, json),
            "xhr": xhr
        };
        if (isObject && json.hasOwnProperty("data"))
            result.data = json.data;
        return result;
    }

    function parseBody(text) {
        if (!text)
            return {};
        try {
            const json = JSON.parse(text);
            return json === null || json === undefined ? {} : json;
        } catch (error) {
            return {};
        }
    }

    function errorText(status, json) {
        const isObject = typeof json === "object" && !Array.isArray(json);
        const errors = isObject ? json.errors : undefined;
        if (errors !== null && typeof errors === "object") {
            // The first field that has a text; a field without one does not hide the others.
            for (const field of Object.keys(errors)) {
                const value = errors[field];
                if (value === null || value === undefined)
                    continue;
                const text = Array.isArray(value) ? (value.length > 0 ? String(value[0]) : "") : String(value);
                if (text !== "")
                    return text;
            }
        }
        if (isObject && json.message !== null && json.message !== undefined && String(json.message) !== "")
            return String(json.message);
        switch (status) {
        case 0:
            return qsTr("Сервер недоступен");
        case 401:
            return qsTr("Необходимо войти заново");
        case 403:
            return qsTr("Доступ запрещен");
        case 419:
            return qsTr("Сервер отклонил запрос авторизации");
        case 429:
            return qsTr("Слишком много попыток. Попробуйте позже");
        default:
            return qsTr("Ошибка запроса (%1)").arg(status);
        }
    }
}
