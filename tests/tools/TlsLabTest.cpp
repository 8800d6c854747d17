// The credential service's TLS port seen from another computer of the lab's LAN: curl trusts the
// generated certificate for the manager's address and gets what the plain port answers; clients
// of old TLS versions and plain HTTP on the TLS port are turned away while the service serves
// on; "--https-only-query" keeps "/Query" off the plain port and the pushes on it; an operator's
// own certificate is the one served.
#include "tests/tools/CLabArray.h"
#include "tests/tools/CLabTest.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// start: the headless program with the options given, once both ports answer. C runs a command
// in the client namespace; query asks, from there, for alice's "/Query" at the URL in $1, with
// curl's further options after it; login logs in to every array found and gives alice, in group
// lab, access to them all.
const std::string kPrelude = R"sh(
export XDG_CONFIG_HOME="$LAB_DIR/config" XDG_STATE_HOME="$LAB_DIR/state"
store="$XDG_CONFIG_HOME/OrvaneSrv"
mkdir -p "$LAB_DIR/www" && echo '<html>page</html>' >"$LAB_DIR/www/default.htm"
LAB=$(basename "$LAB_DIR" | sed 's/\.[^.]*$//')
C="ip netns exec $LAB_CLIENT_NS"
start() {
    OrvaneSrv --headless --www "$LAB_DIR/www" "$@" 2>>"$LAB_DIR/err" &
    pid=$!
    for i in $(seq 200); do
        curl -sk -o /dev/null https://127.0.0.1:51443/ && curl -s -o /dev/null http://127.0.0.1:51001/ && break
        sleep 0.05
    done
}
stop() { kill -TERM $pid; wait $pid; echo "stop $?"; }
query() {
    url=$1; shift
    printf 'x\n' | $C curl -sS --max-time 5 -u alice:pw --data-binary @- "$@" "$url"
}
login() {
    orvanectl refresh >/dev/null
    printf 'secret\n' | orvanectl login --all --user admin --password-stdin >/dev/null
    echo "login $?"
    printf 'pw\n' | orvanectl user add alice --password-stdin
    orvanectl group add lab --members alice --access "$(cut -d' ' -f4 "$LAB_ARRAYS" | paste -sd,)"
}
)sh";

const std::string kHttps = "https://10.77.0.1:51443";
const std::string kHttp = "http://10.77.0.1:51001";

using TlsLab = CLabTest;

// A client the TLS port must turn away, and the reason the service logs for it.
struct CRefusedClient {
    const char* name;
    const char* command; // run in the client namespace
    const char* logged;
};

TEST_F(TlsLab, TheGeneratedCertificateServesWhatThePlainPortServes) {
    // Old versions are offered at security level 0, so that the server, not the client's own
    // policy, is what says no.
    const std::vector<CRefusedClient> refused = {
        {"tls1.0",
         "curl -sS --max-time 5 --tlsv1.0 --tls-max 1.0 --ciphers DEFAULT@SECLEVEL=0 -k "
         "https://10.77.0.1:51443/",
         "TLS handshake: unsupported protocol"},
        {"tls1.1",
         "curl -sS --max-time 5 --tlsv1.0 --tls-max 1.1 --ciphers DEFAULT@SECLEVEL=0 -k "
         "https://10.77.0.1:51443/",
         "TLS handshake: unsupported protocol"},
        {"s_client-tls1.1",
         "openssl s_client -quiet -tls1_1 -cipher DEFAULT@SECLEVEL=0 -connect 10.77.0.1:51443 "
         "</dev/null",
         "TLS handshake: unsupported protocol"},
        {"plain-http", "curl -sS --max-time 5 --http0.9 http://10.77.0.1:51443/",
         "TLS handshake: http request error"},
    };
    std::string script = kPrelude +
                         "start\nlogin\n"
                         "query " +
                         kHttp +
                         "/Query >\"$LAB_DIR/plain\"\n"
                         "check() {\n"
                         "    query " +
                         kHttps +
                         "/Query --cacert \"$store/tls.crt\" >\"$LAB_DIR/tls\"; echo \"$1 $?\"\n"
                         "    cmp -s \"$LAB_DIR/plain\" \"$LAB_DIR/tls\" && echo \"$1 same\"\n"
                         "}\n"
                         "check first\n"
                         "grep -o 'MAC=\"[^\"]*\"' \"$LAB_DIR/tls\" | wc -l\n";
    std::vector<std::string> expected = {"login 0", "first 0", "first same", "2"};
    for (const CRefusedClient& client : refused) {
        const std::string name = client.name;
        script += "$C " + std::string(client.command) + " >/dev/null 2>&1 && echo '" + name +
                  " served'\n"
                  "check " +
                  name + "\n";
        expected.insert(expected.end(), {name + " 0", name + " same"});
    }
    script += "stop\n";
    expected.push_back("stop 0");
    // Each refusal is logged once, with its reason.
    for (const CRefusedClient& client : refused) {
        const std::string logged = client.logged;
        script += "grep -c '" + logged + "' \"$LAB_DIR/err\"\n";
        expected.push_back(std::to_string(
            std::count_if(refused.begin(), refused.end(),
                          [&](const CRefusedClient& other) { return other.logged == logged; })));
    }
    const LabResult result =
        Run("--arrays 2 --client", script, {"--admin-password secret", "--admin-password secret"});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, expected);
}

TEST_F(TlsLab, HttpsOnlyQueryKeepsQueriesOffThePlainPortAndTakesPushes) {
    const std::string script =
        kPrelude +
        "start --https-only-query\nlogin\n"
        "query " +
        kHttp +
        "/Query >\"$LAB_DIR/refused\"\n"
        "$C curl -sS --max-time 5 --data-binary x " +
        kHttp +
        "/nothing | cmp -s - \"$LAB_DIR/refused\" && echo 'plain not found'\n"
        "ip netns exec $LAB-a0 orvane-array-sim --address 10.77.1.1 --mac " +
        CLabArray::Generated(0).mac +
        " --push-password n3w --manager 10.77.0.1 >/dev/null; echo \"push $?\"\n"
        "query " +
        kHttps + "/Query --cacert \"$store/tls.crt\" | grep -o 'LoginPasswd=\"[^\"]*\"'\n" +
        "$C curl -sS --max-time 5 " + kHttp + "/\n" +
        "stop\n"
        "grep -c '\"/Query\" over plain HTTP from 10.77.0.3 refused' \"$LAB_DIR/err\"\n";
    const LabResult result = Run("--arrays 1 --client", script, {"--admin-password secret"});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, (std::vector<std::string>{"login 0", "plain not found", "push 0",
                                                      "LoginPasswd=\"n3w\"", "<html>page</html>",
                                                      "stop 0", "1"}));
}

TEST_F(TlsLab, AnOperatorsCertificateIsTheOneServed) {
    // A pair made by the operator, for the manager's address, that runs out in 20 days.
    const std::string script = kPrelude + R"sh(
mkdir -p "$store" && chmod 700 "$store"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 20 \
    -subj /CN=operator -addext subjectAltName=IP:10.77.0.1 \
    -keyout "$store/tls.key" -out "$store/tls.crt" 2>/dev/null
chmod 600 "$store/tls.key"
cp "$store/tls.crt" "$store/tls.key" "$LAB_DIR"
fingerprint() { openssl x509 -noout -fingerprint -sha256 | sed 's/.*=//'; }
mine=$(fingerprint <"$LAB_DIR/tls.crt")
start
served=$($C openssl s_client -connect 10.77.0.1:51443 </dev/null 2>/dev/null | fingerprint)
[ -n "$mine" ] && [ "$mine" = "$served" ] && echo "served the operator's"
$C curl -sS --max-time 5 --cacert "$LAB_DIR/tls.crt" https://10.77.0.1:51443/
stop
grep -c "SHA-256 fingerprint $mine" "$LAB_DIR/err"
grep -c 'tls.crt expires within 30 days' "$LAB_DIR/err"
cmp -s "$store/tls.crt" "$LAB_DIR/tls.crt" && cmp -s "$store/tls.key" "$LAB_DIR/tls.key" && echo kept
)sh";
    const LabResult result = Run("--arrays 0 --client", script);
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, (std::vector<std::string>{"served the operator's", "<html>page</html>",
                                                      "stop 0", "1", "1", "kept"}));
}

} // namespace
