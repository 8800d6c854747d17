// The credential service's TLS port seen from another computer of the lab's LAN: curl trusts the
// generated certificate for the manager's address and gets what the plain port answers; clients
// of old TLS versions and plain HTTP on the TLS port are turned away while the service serves
// on; "--https-only-query" keeps "/Query" off the plain port and the pushes on it; an operator's
// own certificate is the one served.
#include "tests/tools/CLabArray.h"
#include "tests/tools/CLabTest.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// start: the headless program with the options given, once both ports answer. C runs a command
// in the client namespace; query asks, from there, for alice's "/Query" at the URL in $1, with
// curl's further options after it; login gives alice, in group lab, access to every array found
// and logs in to them all.
const std::string kPrelude = R"sh(
export XDG_CONFIG_HOME="$LAB_DIR/config" XDG_STATE_HOME="$LAB_DIR/state"
store="$XDG_CONFIG_HOME/OrvaneSrv"
mkdir -p "$LAB_DIR/www" && echo '<html>page</html>' >"$LAB_DIR/www/default.htm"
LAB=$(basename "$LAB_DIR" | sed 's/\.[^.]*$//')
C="ip netns exec $LAB_CLIENT_NS"
HTTPS=https://10.77.0.1:51443 HTTP=http://10.77.0.1:51001
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
    printf 'pw\n' | orvanectl user add alice --password-stdin
    orvanectl group add lab --members alice --access "$(cut -d' ' -f4 "$LAB_ARRAYS" | paste -sd,)"
    printf 'secret\n' | orvanectl login --all --user admin --password-stdin >/dev/null
    echo "login $?"
}
)sh";

using TlsLab = CLabTest;

// Old versions are offered at security level 0, so that the server, not the client's own policy,
// is what says no. Each refused client leaves the service serving, and each refusal is logged
// once with its reason.
TEST_F(TlsLab, TheGeneratedCertificateServesWhatThePlainPortServes) {
    const std::string script = kPrelude + R"sh(
start
login
query $HTTP/Query >"$LAB_DIR/plain"
check() {
    query $HTTPS/Query --cacert "$store/tls.crt" >"$LAB_DIR/tls"; echo "$1 $?"
    cmp -s "$LAB_DIR/plain" "$LAB_DIR/tls" && echo "$1 same"
}
refuse() { name=$1; shift; $C "$@" >/dev/null 2>&1 && echo "$name served"; check "$name"; }
check first
grep -o 'MAC="[^"]*"' "$LAB_DIR/tls" | wc -l
old="--max-time 5 --ciphers DEFAULT@SECLEVEL=0 -k --tlsv1.0"
refuse tls1.0 curl -sS $old --tls-max 1.0 $HTTPS/
refuse tls1.1 curl -sS $old --tls-max 1.1 $HTTPS/
refuse s_client openssl s_client -quiet -tls1_1 -cipher DEFAULT@SECLEVEL=0 -connect ${HTTPS#*//} </dev/null
refuse plain curl -sS --max-time 5 --http0.9 http://${HTTPS#*//}/
stop
grep -c 'TLS handshake: unsupported protocol' "$LAB_DIR/err"
grep -c 'TLS handshake: http request error' "$LAB_DIR/err"
)sh";
    const LabResult result =
        Run("--arrays 2 --client", script, {"--admin-password secret", "--admin-password secret"});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.lines, (std::vector<std::string>{
                                "login 0", "first 0", "first same", "2", "tls1.0 0", "tls1.0 same",
                                "tls1.1 0", "tls1.1 same", "s_client 0", "s_client same", "plain 0",
                                "plain same", "stop 0", "3", "1"}));
}

TEST_F(TlsLab, HttpsOnlyQueryKeepsQueriesOffThePlainPortAndTakesPushes) {
    const std::string script = kPrelude + "mac=" + CLabArray::Generated(0).mac + R"sh(
start --https-only-query
login
query $HTTP/Query >"$LAB_DIR/refused"
$C curl -sS --max-time 5 --data-binary x $HTTP/nothing | cmp -s - "$LAB_DIR/refused" && echo 'plain not found'
ip netns exec $LAB-a0 orvane-array-sim --address 10.77.1.1 --mac $mac --push-password n3w \
    --manager 10.77.0.1 >/dev/null; echo "push $?"
query $HTTPS/Query --cacert "$store/tls.crt" | grep -o 'LoginPasswd="[^"]*"'
$C curl -sS --max-time 5 $HTTP/
stop
grep -c '"/Query" over plain HTTP from 10.77.0.3 refused' "$LAB_DIR/err"
)sh";
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
