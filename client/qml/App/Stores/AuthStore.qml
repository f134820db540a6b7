pragma Singleton
import QtQml
import Qt.labs.settings
import App.Api

// The signed-in user's session for the whole interface: the API token, the profile
// record, and every account operation against the REST API. The session is kept in
// the settings ("Auth") when the user asked to be remembered; the password never is.
QtObject {
    id: authStore

    property string token: ""
    property string tokenType: "Bearer"
    property var user: ({})
    property bool loading: false
    property string error: ""
    property string message: ""

    readonly property bool isAuthenticated: token !== ""
    readonly property bool hasUser: isRecord(user) && Object.keys(user).length > 0
    readonly property bool isEmailVerified: !hasUser || textOf(user.email_verified_at) !== ""
    readonly property bool needsEmailVerification: isAuthenticated && hasUser && !isEmailVerified

    // Bumped by every sign-in and registration: only the latest one's reply may
    // become the session.
    property int signInAttempt: 0

    readonly property string deviceName: "vpn-client"

    // Written with setValue, not through declared properties: those reach the
    // settings only after a write delay, and bootstrap() must read what is stored,
    // not what this object loaded when it was created.
    readonly property Settings stored: Settings {
        category: "Auth"
    }

    signal loginSucceeded
    signal logoutFinished
    signal passwordResetFinished
    signal emailVerificationFinished

    function bootstrap() {
        token = textOf(stored.value("token", ""));
        tokenType = textOf(stored.value("tokenType", "Bearer")) || "Bearer";
        user = parsedRecord(textOf(stored.value("userJson", "{}")));
        if (token !== "")
            fetchProfile();
    }

    function login(email, password, remember) {
        clearStatus();
        const address = trimmed(email);
        if (address === "" || textOf(password) === "") {
            error = qsTr("Введите email и пароль");
            return;
        }
        signInAttempt += 1;
        const payload = {
            "email": address,
            "password": textOf(password),
            "device_name": deviceName
        };
        send("POST", "/auth/login", payload, {
                "signIn": true
            }, function (result) {
                if (!result.ok)
                    return;
                storeSession(result.data, remember !== false);
                message = replyMessage(result, qsTr("Авторизация успешна"));
                loginSucceeded();
            });
    }

    function register(name, email, password, passwordConfirmation, acceptedAgreement) {
        clearStatus();
        if (!acceptedAgreement) {
            error = qsTr("Необходимо принять оферту и соглашение");
            return;
        }
        const userName = trimmed(name);
        const address = trimmed(email);
        if (userName === "" || address === "" || textOf(password) === "") {
            error = qsTr("Заполните имя, email и пароль");
            return;
        }
        signInAttempt += 1;
        const payload = {
            "name": userName,
            "email": address,
            "password": textOf(password),
            "password_confirmation": textOf(passwordConfirmation),
            "agree_with_personal_agreement": true,
            "device_name": deviceName
        };
        send("POST", "/auth/register", payload, {
                "signIn": true
            }, function (result) {
                if (!result.ok)
                    return;
                storeSession(result.data, true);
                message = replyMessage(result, qsTr("Аккаунт создан. Код подтверждения отправлен на email"));
                loginSucceeded();
            });
    }

    function requestPasswordReset(email) {
        clearStatus();
        const address = trimmed(email);
        if (address === "") {
            error = qsTr("Введите email");
            return;
        }
        send("POST", "/auth/forgot-password", {
                "email": address
            }, {}, function (result) {
                if (result.ok)
                    message = replyMessage(result, qsTr("Ссылка для сброса пароля отправлена"));
            });
    }

    function resetPassword(email, resetToken, password, passwordConfirmation) {
        clearStatus();
        const address = trimmed(email);
        const reset = trimmed(resetToken);
        if (address === "" || reset === "") {
            error = qsTr("Введите email и токен сброса");
            return;
        }
        const payload = {
            "email": address,
            "token": reset,
            "password": textOf(password),
            "password_confirmation": textOf(passwordConfirmation)
        };
        send("POST", "/auth/reset-password", payload, {}, function (result) {
                if (!result.ok)
                    return;
                const text = replyMessage(result, qsTr("Пароль обновлен"));
                clearSession();
                message = text;
                passwordResetFinished();
            });
    }

    function fetchProfile(callback) {
        if (token === "") {
            answer(callback, false);
            return;
        }
        send("GET", "/profile", null, {
                "withToken": true,
                "logoutOn401": true,
                "callback": callback
            }, function (result) {
                if (result.ok) {
                    user = isRecord(result.data) ? result.data : {};
                    persistSession();
                }
                answer(callback, result.ok);
            });
    }

    function logout() {
        if (token === "") {
            clearSession();
            logoutFinished();
            return;
        }
        send("POST", "/auth/logout", {}, {
                "withToken": true
            }, function (result) {
                const text = result.ok ? replyMessage(result, qsTr("Вы вышли из аккаунта")) : qsTr("Вы вышли из аккаунта");
                clearSession();
                message = text;
            });
        // At once: the interface leaves the account without waiting for the server.
        logoutFinished();
    }

    function resendVerificationCode() {
        clearStatus();
        send("POST", "/auth/email/resend", {}, {
                "withToken": true
            }, function (result) {
                if (result.ok)
                    message = replyMessage(result, qsTr("Код подтверждения отправлен"));
            });
    }

    function verifyEmailCode(code) {
        clearStatus();
        const digits = trimmed(code);
        if (digits === "") {
            error = qsTr("Введите код подтверждения");
            return;
        }
        send("POST", "/auth/email/verify", {
                "code": digits
            }, {
                "withToken": true
            }, function (result) {
                if (!result.ok)
                    return;
                message = replyMessage(result, qsTr("Email подтвержден"));
                fetchProfile(function (ok) {
                        if (ok)
                            emailVerificationFinished();
                    });
            });
    }

    function updateProfile(name, email, callback) {
        clearStatus();
        const userName = trimmed(name);
        const address = trimmed(email);
        if (userName === "" || address === "") {
            refuse(qsTr("Введите имя и email"), callback);
            return;
        }
        send("PATCH", "/profile", {
                "name": userName,
                "email": address
            }, {
                "withToken": true,
                "logoutOn401": true,
                "callback": callback
            }, function (result) {
                if (result.ok) {
                    user = isRecord(result.data) ? result.data : {};
                    persistSession();
                    message = replyMessage(result, qsTr("Профиль обновлен"));
                }
                answer(callback, result.ok, result);
            });
    }

    function updatePassword(currentPassword, password, passwordConfirmation, callback) {
        clearStatus();
        if (textOf(currentPassword) === "" || textOf(password) === "" || textOf(passwordConfirmation) === "") {
            refuse(qsTr("Заполните текущий пароль, новый пароль и подтверждение"), callback);
            return;
        }
        const payload = {
            "current_password": textOf(currentPassword),
            "password": textOf(password),
            "password_confirmation": textOf(passwordConfirmation)
        };
        send("PATCH", "/profile/password", payload, {
                "withToken": true,
                "logoutOn401": true,
                "callback": callback
            }, function (result) {
                if (result.ok)
                    message = replyMessage(result, qsTr("Пароль обновлен"));
                answer(callback, result.ok, result);
            });
    }

    function deleteProfile(password, callback) {
        clearStatus();
        if (textOf(password) === "") {
            refuse(qsTr("Введите текущий пароль"), callback);
            return;
        }
        send("POST", "/profile", {
                "password": textOf(password)
            }, {
                "withToken": true,
                "logoutOn401": true,
                "callback": callback,
                "headers": {
                    "X-HTTP-Method-Override": "DELETE"
                }
            }, function (result) {
                if (result.ok) {
                    const text = replyMessage(result, qsTr("Профиль удален"));
                    clearSession();
                    message = text;
                    logoutFinished();
                }
                answer(callback, result.ok, result);
            });
    }

    function clearStatus() {
        error = "";
        message = "";
    }

    // Every request of this store. A reply that no longer belongs to the current
    // session only ends `loading` and tells the caller's callback false: one sent with
    // a token that has since been cleared or replaced (a profile arriving after the
    // logout must not write the account back, a 401 of the old token must not sign
    // the new session out), or a sign-in overtaken by a later one (the last press,
    // with its "remember" choice, wins whatever order the replies come in).
    // options: withToken, signIn, logoutOn401, headers, callback.
    function send(method, path, payload, options, done) {
        loading = true;
        error = "";
        const sentToken = options.withToken ? token : "";
        const attempt = signInAttempt;
        ApiClient.request(method, path, payload, {
                "token": sentToken,
                "tokenType": tokenType || "Bearer",
                "headers": options.headers || {}
            }, function (result) {
                loading = false;
                const superseded = options.withToken ? token !== sentToken : options.signIn === true && attempt !== signInAttempt;
                if (superseded) {
                    answer(options.callback, false, result);
                    return;
                }
                if (!result.ok)
                    error = result.error;
                if (result.status === 401 && options.logoutOn401)
                    logout();
                done(result);
            });
    }

    // The user record goes in before the token, so that bindings never see the new
    // token with the previous user (a moment that would open the wrong page).
    function storeSession(data, remember) {
        const session = isRecord(data) ? data : {};
        tokenType = textOf(session.token_type) || "Bearer";
        user = isRecord(session.user) ? session.user : {};
        token = textOf(session.token);
        stored.setValue("remember", remember);
        persistSession();
    }

    function persistSession() {
        if (rememberSetting())
            writeStored(token, tokenType, JSON.stringify(user));
        else
            writeStored("", "Bearer", "{}");
    }

    // The token goes first: signed out at once, whatever the bindings see next.
    function clearSession() {
        token = "";
        tokenType = "Bearer";
        user = {};
        writeStored("", "Bearer", "{}");
    }

    function writeStored(tokenText, tokenTypeText, userJson) {
        stored.setValue("token", tokenText);
        stored.setValue("tokenType", tokenTypeText);
        stored.setValue("userJson", userJson);
    }

    // A boolean within this run; the text "false" once read back from an INI file.
    function rememberSetting() {
        const value = stored.value("remember", true);
        return value !== false && String(value) !== "false";
    }

    function refuse(text, callback) {
        error = text;
        answer(callback, false);
    }

    function answer(callback, ok, result) {
        if (typeof callback !== "function")
            return;
        if (result)
            callback(ok, result.json, result.status, result.xhr);
        else
            callback(ok);
    }

    function replyMessage(result, fallback) {
        const json = result.json;
        const text = isRecord(json) ? textOf(json.message) : "";
        return text !== "" ? text : fallback;
    }

    function parsedRecord(text) {
        try {
            const value = JSON.parse(text);
            return isRecord(value) ? value : {};
        } catch (ignored) {
            return {};
        }
    }

    function isRecord(value) {
        return value !== null && typeof value === "object" && !Array.isArray(value);
    }

    function textOf(value) {
        return value === null || value === undefined ? "" : String(value);
    }

    function trimmed(value) {
        return textOf(value).trim();
    }
}
