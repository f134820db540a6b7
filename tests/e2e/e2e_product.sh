#!/usr/bin/env bash
# The whole product in the sandbox: the client's window with its own VpnManager, the real
# daemon and the real local vendor API. A person signs in, adds a peer and connects it, and
# the simulated Mac gets the tunnel; a client started again finds it and disconnects, and
# the Mac is as before; so does connecting and disconnecting in one run.

# Scenarios are called by name from run_scenarios.
# shellcheck disable=SC2317,SC2119
# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

readonly SCENARIO=$E2E_DIR/product/tst_product.qml
# The DNS servers of the vendor API's first country, whose first server is $SERVER.
readonly COUNTRY_DNS="1.1.1.1 1.0.0.1"

client() {
    run_client "${TARVEX_E2E_QUICK:?}" -input "$SCENARIO" "Product::$1" \
        || fail "the client's $1 failed:"$'\n'"$client_output"
}

expect_tunnel_up() {
    local tunnel
    tunnel=$(tunnel_interface)
    [[ -n $tunnel ]] || { fail "no tunnel interface"; return; }
    expect_routes "route inet 0.0.0.0/1 interface $tunnel" "route inet 128.0.0.0/1 interface $tunnel" \
        "route inet6 ::/1 interface $tunnel" "route inet6 8000::/1 interface $tunnel" \
        "$SERVER_ROUTE" "${DOMAIN_ROUTES[@]}"
    expect_dns_servers "$COUNTRY_DNS"
    expect_hosts_pinned
    tunnel_running || fail "amneziawg-go does not run"
}

scenario_sign_up_add_a_peer_and_connect() {
    snapshot
    client test_signUpAddPeerAndConnect
    expect_tunnel_up
}

# Compared with the snapshot from before the first connect.
scenario_restarted_client_finds_the_tunnel() {
    client test_restartFindsTheTunnel
    expect_restored
}

scenario_connect_and_disconnect_in_one_run() {
    snapshot
    client test_connectThenDisconnect
    expect_restored
}

start_vendor_api || exit 1
run_scenarios sign_up_add_a_peer_and_connect restarted_client_finds_the_tunnel \
    connect_and_disconnect_in_one_run
