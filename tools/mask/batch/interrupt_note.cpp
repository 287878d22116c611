// SPDX-License-Identifier: ISC
#include "interrupt_note.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace zendrik_mask {

namespace {

constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int SIGNAL_COUNT = sizeof SIGNALS / sizeof SIGNALS[0];

// What the handler may touch: plain numbers, set before it is installed.
std::atomic<std::size_t> g_finished{0};
std::size_t g_files = 0;
int g_fd = 2;
bool g_terminal = false; // a progress line to end first
struct sigaction g_previous[SIGNAL_COUNT];

// Async-signal-safe: digits by hand, into a fixed buffer.
void append(char*& at, const char* text)
{
    const std::size_t length = std::strlen(text);
    std::memcpy(at, text, length);
    at += length;
}

void append(char*& at, std::size_t number)
{
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number > 0);
    while (count > 0) {
        *at++ = digits[--count];
    }
}

extern "C" void on_interrupt(int sig)
{
    char text[256];
    char* at = text;
    append(at, g_terminal ? "\nzendrik-mask: interrupted: " : "zendrik-mask: interrupted: ");
    append(at, g_finished.load());
    append(at, " of ");
    append(at, g_files);
    append(at, " files finished; run the same command again to go on from there\n");
    ssize_t ignored = write(g_fd, text, static_cast<std::size_t>(at - text));
    (void)ignored;
    for (int i = 0; i < SIGNAL_COUNT; ++i) {
        if (SIGNALS[i] == sig && g_previous[i].sa_handler != SIG_DFL && g_previous[i].sa_handler != SIG_IGN) {
            g_previous[i].sa_handler(sig);
            return;
        }
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

} // namespace

InterruptNote::InterruptNote(std::size_t files, int fd, bool terminal)
{
    g_files = files;
    g_fd = fd;
    g_terminal = terminal;
    g_finished = 0;
    struct sigaction note {};
    note.sa_handler = on_interrupt;
    sigemptyset(&note.sa_mask);
    for (int i = 0; i < SIGNAL_COUNT; ++i) {
        sigaction(SIGNALS[i], &note, &g_previous[i]);
    }
}

InterruptNote::~InterruptNote()
{
    for (int i = 0; i < SIGNAL_COUNT; ++i) {
        sigaction(SIGNALS[i], &g_previous[i], nullptr);
    }
}

void InterruptNote::set_finished(std::size_t files)
{
    g_finished = files;
}

} // namespace zendrik_mask
