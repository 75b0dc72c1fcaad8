// A port library for tests: counts its calls and remembers the last arguments.
// Built twice, once without InportW.
extern "C" {

static int outCalls = 0;
static int inCalls = 0;
static short lastPort = 0;
static short lastValue = 0;

__attribute__((visibility("default"))) void OutportW(short port, short value) {
    ++outCalls;
    lastPort = port;
    lastValue = value;
}

#ifndef FAKE_WITHOUT_INPORT
__attribute__((visibility("default"))) short InportW(short port) {
    ++inCalls;
    lastPort = port;
    return 0x7F;
}
#endif

__attribute__((visibility("default"))) int fake_out_calls() { return outCalls; }
__attribute__((visibility("default"))) int fake_in_calls() { return inCalls; }
__attribute__((visibility("default"))) int fake_last_port() { return lastPort; }
__attribute__((visibility("default"))) int fake_last_value() { return lastValue; }
}
