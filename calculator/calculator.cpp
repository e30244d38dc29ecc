// The calculator's run: start-up, the entry dialogue and its echo into the report,
// the two passes over the characteristic cubic and the invariant elements, and the
// end. Each function prints one section of the transcript on the screen (channel 0)
// and in the report (channel 1).
#include "calculator/calculator.h"

#include <cmath>
#include <string>
#include <string_view>

#include "calculator/cubic.h"
#include "calculator/invariants.h"
#include "calculator/state.h"
#include "gfx/screen_mode.h"
#include "runtime/file_channel.h"
#include "runtime/input.h"
#include "runtime/print.h"
#include "runtime/runtime.h"
#include "runtime/statements.h"

namespace zv {

namespace {

constexpr int32_t SCREEN = 0;
constexpr int32_t REPORT = 1;

StringDesc* literal(std::string_view text) {
  return temp_from_literal(text.data(), static_cast<int32_t>(text.size()));
}

void line(int32_t channel, std::string_view text) { print_string(channel, literal(text), PRINT_NEWLINE); }

// An empty line: a line end alone on the screen, an empty string and a line end in the report.
void blank(int32_t channel, int count = 1) {
  for (int i = 0; i < count; ++i) {
    if (channel == SCREEN)
      print_newline(SCREEN, PRINT_NEWLINE);
    else
      print_string(channel, literal(""), PRINT_NEWLINE);
  }
}

void value_line(int32_t channel, std::string_view label, double value) {
  print_string(channel, literal(label), PRINT_NONE);
  print_double(channel, value, PRINT_NEWLINE);
}

// label, k, ") = ", value: four prints, the last one ends the line.
void indexed_line(int32_t channel, std::string_view label, double k, double value) {
  print_string(channel, literal(label), PRINT_NONE);
  print_double(channel, k, PRINT_NONE);
  print_string(channel, literal(") = "), PRINT_NONE);
  print_double(channel, value, PRINT_NEWLINE);
}

// A report that cannot be written is said once on the screen, at the next pause,
// where the user of a window looks; standard error hears it again at the end.
bool report_failure_shown = false;

void show_report_failure() {
  flush_file_channels();
  const FileChannelFailure& failure = file_channel_failure();
  if (failure.error == 0 || report_failure_shown) return;
  report_failure_shown = true;
  std::string name = failure.name;
  name.erase(0, name.find_last_of("\\/") + 1);
  const std::string text = " Bericht " + name + " nicht geschrieben: " + file_failure_reason(failure.error);
  print_string(SCREEN, temp_from_copy(text.data(), static_cast<int32_t>(text.size())), PRINT_NEWLINE);
}

// The window's close request ends the run at whatever wait it finds: the report
// holds everything printed so far and is closed as at the normal end.
void end_if_close_requested() {
  if (close_requested()) end_program(0);
}

void pause() {
  show_report_failure();
  end_if_close_requested();
  sleep_statement(-1);
  end_if_close_requested();
}
void clear() { clear_screen(CLEAR_DEFAULT); }

// Labels and layout of the two passes.
struct Pass {
  bool points;  // first pass: invariant points; second pass: invariant lines
  std::string_view root_line, first, second, improper;
};

constexpr Pass POINTS{true, " L\x94" "sung kubische Gleichung ny(", " x(", " y(", " uneigentlicher x - Wert !"};
constexpr Pass LINES{false, " L\x94" "sung kubische Gleichung ly(", " u(", " v(", " uneigentlicher u - Wert !"};

struct Coefficient {
  std::string_view prompt, echo;
  double CalculatorState::*field;
};

constexpr Coefficient ENTRIES[] = {
    {"    a11=", "       a11 = ", &CalculatorState::a11}, {"    a12=", "       a12 = ", &CalculatorState::a12},
    {"    a13=", "       a13 = ", &CalculatorState::a13}, {"    a21=", "       a21 = ", &CalculatorState::a21},
    {"    a22=", "       a22 = ", &CalculatorState::a22}, {"    a23=", "       a23 = ", &CalculatorState::a23},
    {"    a31=", "       a31 = ", &CalculatorState::a31}, {"    a32=", "       a32 = ", &CalculatorState::a32},
    {"    a33=", "       a33 = ", &CalculatorState::a33},
};

constexpr std::string_view COFACTOR_LABELS[] = {"       A11 = ", "       A12 = ", "       A13 = ",
                                                "       A21 = ", "       A22 = ", "       A23 = ",
                                                "       A31 = ", "       A32 = ", "       A33 = "};

// Sections A and B: the nine entries on the screen, their echo in the report.
void entry_dialogue(CalculatorState& s) {
  blank(SCREEN);
  line(SCREEN, "    Eingabe der Fakoren der Ebenengleichung:");
  blank(SCREEN, 2);
  for (const Coefficient& e : ENTRIES) {
    input_prompt(literal(e.prompt), -1, -1);
    end_if_close_requested();
    input_double(&(s.*e.field));
  }
  blank(SCREEN, 2);
  for (const Coefficient& e : ENTRIES) value_line(REPORT, e.echo, s.*e.field);
}

void cubic_lines(const CalculatorState& s, int32_t channel) {
  line(channel, "       x*x*x +a*x*x +b*x +c = 0");
  value_line(channel, "       a = ", s.a);
  value_line(channel, "       b = ", s.b);
  value_line(channel, "       c = ", s.c);
}

void reduction_lines(const CalculatorState& s, int32_t channel) {
  line(channel, " Reduktion: y*y*y + p*y + q = 0");
  value_line(channel, "       p = ", s.p);
  value_line(channel, "       q = ", s.q);
}

void discriminant_lines(const CalculatorState& s, int32_t channel) {
  value_line(channel, " Diskriminante = ", s.D);
  line(channel, " D>0: 1 reelle L\x94" "sung");
  line(channel, " D=0: 3 reelle L\x94" "sungen (1 Doppelwurzel)");
  line(channel, " D<0: 3 reelle L\x94" "sungen");
}

// Sections C, D, E (first pass) or I, J, K (second pass): the cubic, its reduction
// and the discriminant block, ending with a pause and a cleared screen.
void cubic_sections(CalculatorState& s, const Pass& pass) {
  form_cubic(s);
  blank(SCREEN, pass.points ? 1 : 2);
  cubic_lines(s, SCREEN);
  blank(SCREEN);
  blank(REPORT);
  cubic_lines(s, REPORT);
  blank(REPORT);

  reduce_cubic(s);
  const int before_reduction = pass.points ? 2 : 0;
  blank(SCREEN, before_reduction);
  reduction_lines(s, SCREEN);
  blank(SCREEN);
  blank(REPORT, before_reduction);
  reduction_lines(s, REPORT);
  blank(REPORT);

  form_discriminant(s);
  discriminant_lines(s, SCREEN);
  blank(SCREEN);
  discriminant_lines(s, REPORT);
  blank(REPORT);
  pause();
  clear();
  solve_cubic(s);
}

// Sections F (points) or L (lines): one block per real root, each with its pause.
void invariant_elements(CalculatorState& s, const Pass& pass) {
  const double n = s.n;
  const int opening = pass.points ? 1 : 2;
  for (double k = 1; k <= n; k = 1 + k) {
    const int i = static_cast<int>(std::lround(k));
    blank(SCREEN, opening);
    indexed_line(SCREEN, pass.root_line, k, s.root[i]);
    blank(SCREEN);
    blank(REPORT, opening);
    indexed_line(REPORT, pass.root_line, k, s.root[i]);
    blank(REPORT);
    pause();
    if (pass.points) {
      blank(SCREEN);
      line(SCREEN, " Invarianter Punkt: ");
      blank(REPORT);
      line(REPORT, " Invarianter Punkt: ");
    }
    const FirstCoordinate from = invariant_element(s, i);
    if (from == FirstCoordinate::improper) {
      if (pass.points) blank(SCREEN);
      line(SCREEN, pass.improper);
      line(REPORT, pass.improper);
      continue;
    }
    indexed_line(SCREEN, pass.first, k, s.coord1[i]);
    indexed_line(REPORT, pass.first, k, s.coord1[i]);
    if (!pass.points && from == FirstCoordinate::rows12) {
      blank(SCREEN, 2);
      indexed_line(SCREEN, pass.root_line, k, s.root[i]);
      indexed_line(REPORT, pass.root_line, k, s.root[i]);
    }
    indexed_line(SCREEN, pass.second, k, s.coord2[i]);
    indexed_line(REPORT, pass.second, k, s.coord2[i]);
    blank(SCREEN);
  }
}

// Section G.
void end_of_points() {
  blank(SCREEN);
  line(SCREEN, " -Ende Punktermittlung-");
  line(REPORT, " -Ende Punktermittlung-");
  pause();
  clear();
}

// Section H: the lines heading and the cofactor matrix in place of the coefficients.
void cofactor_matrix(CalculatorState& s) {
  blank(SCREEN);
  line(SCREEN, " invariante Geraden:");
  line(SCREEN, " ===================");
  blank(REPORT);
  line(REPORT, " invariante Geraden von der Form u*x + v*y + 1 = 0:");
  line(REPORT, " bzw. y = - u/v * x - 1/v");
  replace_by_cofactors(s);
  for (int i = 0; i < 9; ++i) value_line(SCREEN, COFACTOR_LABELS[i], s.*ENTRIES[i].field);
  blank(SCREEN);
  for (int i = 0; i < 9; ++i) value_line(REPORT, COFACTOR_LABELS[i], s.*ENTRIES[i].field);
  pause();
  clear();
}

// Section M.
void end_of_lines() {
  blank(SCREEN, 2);
  line(SCREEN, " -Ende Geradenermittlung-");
  blank(REPORT);
  line(REPORT, " -Ende Geradenermittlung-");
  close_channel(REPORT);
  pause();
}

}  // namespace

void run_calculation() {
  setScreenMode(18, 8, 0, 0, 0);
  clear();
  CalculatorState s{};
  report_failure_shown = false;
  // Held for writing while the run lasts: a second run started in the same directory
  // cannot truncate or mix into this run's report.
  open_channel(literal("c:\\invar.txt"), MODE_OUTPUT, ACCESS_NONE, CHANNEL_LOCK_WRITE, REPORT, 0);
  entry_dialogue(s);
  cubic_sections(s, POINTS);
  invariant_elements(s, POINTS);
  end_of_points();
  cofactor_matrix(s);
  cubic_sections(s, LINES);
  invariant_elements(s, LINES);
  end_of_lines();
}

void run_calculator(int argc, char** argv) {
  runtime_init(argc, argv, 0);
  run_calculation();
  end_program(0);
}

}  // namespace zv
