# Environment and services for the tests; sourced by scripts/test.sh.
export QT_QPA_PLATFORM=offscreen
# The web view's sandbox refuses to run as root.
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi

start_test_services() { :; }
stop_test_services() { :; }
