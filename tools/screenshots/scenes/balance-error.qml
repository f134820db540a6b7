import "common"

// The balance page after the server sent no payment link. (Without an error, it is
// shell-balance.)
ShellScene {
    id: scene

    user: anna
    appPage: "balance"

    onApplied: scene.find("balancePage").paymentError = "Сервер не вернул ссылку на оплату"
}
