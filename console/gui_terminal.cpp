#include "console/gui_terminal.h"

#include <curses.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "app/platform/varn_platform.h"
#include "coe/coe_discovery.h"
#include "console/varn_gui.h"

namespace {

SCREEN* gScreen = nullptr;
volatile std::sig_atomic_t gSignal = 0;

// A signal only leaves a note: curses cannot be ended safely inside a handler, and the
// main thread looks at the note at least once a second.
extern "C" void noteSignal(int sig) { gSignal = sig; }

void restoreAtExit() { guiTeardown(); }

void defineColours() {
  start_color();
  init_pair(1, COLOR_GREEN, COLOR_BLACK);
  init_pair(2, COLOR_YELLOW, COLOR_BLACK);
  init_pair(3, COLOR_RED, COLOR_BLACK);
  init_pair(4, COLOR_BLUE, COLOR_BLACK);
  init_pair(5, COLOR_MAGENTA, COLOR_BLACK);
  init_pair(6, COLOR_CYAN, COLOR_BLACK);
  init_pair(7, COLOR_WHITE, COLOR_BLACK);
}

}  // namespace

int guiInit(char* why, size_t whySize) {
  const char* term = std::getenv("TERM");
  if (!varn_is_terminal(0)) {
    std::snprintf(why, whySize, "standard input is not a terminal");
    return -1;
  }
  if (!varn_is_terminal(1)) {
    std::snprintf(why, whySize, "standard output is not a terminal");
    return -1;
  }
  if (term == nullptr || *term == '\0') {
    std::snprintf(why, whySize, "TERM is not set");
    return -1;
  }
  // newterm, unlike initscr, reports an unknown terminal instead of ending the process.
  gScreen = newterm(nullptr, stdout, stdin);
  if (gScreen == nullptr) {
    std::snprintf(why, whySize, "terminal type \"%s\" is not known here", term);
    return -1;
  }
  set_term(gScreen);
  std::atexit(restoreAtExit);
#ifdef SIGHUP
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, noteSignal);
#else
  for (int sig : {SIGINT, SIGTERM}) std::signal(sig, noteSignal);
#endif

  cbreak();
  nodelay(stdscr, TRUE);
  noecho();
  clear();
  keypad(stdscr, TRUE);
  curs_set(0);
  set_escdelay(25);
  if (has_colors()) {
    defineColours();
  } else {
    mvaddstr(0, 0, "NO COLORS SUPPORTED");
  }
  for (auto& row : guiBoard) std::memset(row, 0xFF, sizeof row);
  guiRender();
  return 0;
}

void guiTeardown() {
  if (gScreen == nullptr || isendwin()) return;
  curs_set(1);
  endwin();
}

void guiQuit() {
  guiTeardown();
  VARNJtagCleanup();
  std::exit(1);
}

void guiQuitIfSignalled() {
  const int sig = gSignal;
  if (sig == 0) return;
  guiTeardown();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}
