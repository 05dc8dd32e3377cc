// zorvenix-lines: simulated telephone lines for running the program without
// modems or serial cables (the demo runs on it).
//
//   zorvenix-lines [--modem NUMBER]... [--subscriber NUMBER[:DIGITS]]... [--cable]...
//
// Prints one line per device, "modem NUMBER PATH" and "cable PATH PATH",
// then "ready", and runs until SIGTERM or SIGINT.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "support/PhoneExchange.h"

namespace {
volatile std::sig_atomic_t gStop = 0;
void OnSignal(int) {
  gStop = 1;
}
}  // namespace

int main(int argc, char** argv) {
  zv::test::PhoneExchange exchange;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--modem" && i + 1 < argc) {
      const std::string number = argv[++i];
      std::printf("modem %s %s\n", number.c_str(), exchange.AddModem(number).c_str());
    } else if (a == "--subscriber" && i + 1 < argc) {
      const std::string s = argv[++i];
      const auto colon = s.find(':');
      exchange.AddSubscriber(s.substr(0, colon),
                             {colon == std::string::npos ? std::string() : s.substr(colon + 1)});
    } else if (a == "--cable") {
      const auto [one, two] = exchange.AddCable();
      std::printf("cable %s %s\n", one.c_str(), two.c_str());
    } else {
      std::fprintf(stderr,
                   "usage: zorvenix-lines [--modem NUMBER]... [--subscriber NUMBER[:DIGITS]]... "
                   "[--cable]...\n");
      return 2;
    }
  }
  std::printf("ready\n");
  std::fflush(stdout);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  while (!gStop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return 0;
}
