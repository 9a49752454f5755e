// STEP length-unit names and the kernel's unit codes.
#include <nimbo/topology/ShapeAlgorithms.h>

#include "test_checks.h"

#include <gtest/gtest.h>
#include <Interface_Static.hxx>
#include <STEPControl_Controller.hxx>

#include <cctype>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>

namespace {

/// Collects what is written to std::cerr for the scope.
class CerrCapture {
 public:
  CerrCapture() : old_(std::cerr.rdbuf(captured_.rdbuf())) {}
  ~CerrCapture() { std::cerr.rdbuf(old_); }
  CerrCapture(const CerrCapture &) = delete;
  CerrCapture &operator=(const CerrCapture &) = delete;
  std::string text() const { return captured_.str(); }

 private:
  std::ostringstream captured_;
  std::streambuf *old_;
};

const std::pair<std::string, std::string> unit_table[] = {
    {"inch", "INCH"}, {"mil", "MIL"},      {"microinch", "UIN"}, {"foot", "FT"},       {"mile", "MI"},
    {"metre", "M"},   {"kilometre", "KM"}, {"millimetre", "MM"}, {"centimetre", "CM"}, {"micrometre", "UM"},
    {"", "M"},
};

}  // namespace

TEST(StepUnits, KnownNamesInAnyCaseGiveTheirCodeSilently) {
  for (const auto &[name, code] : unit_table) {
    std::string capitals = name;
    std::string mixed = name;
    for (std::size_t i = 0; i < name.size(); ++i) {
      capitals[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
      if (i % 2 == 0) mixed[i] = capitals[i];
    }
    for (const std::string &spelling : {name, capitals, mixed}) {
      SCOPED_TRACE("'" + spelling + "'");
      CerrCapture cerr;
      EXPECT_EQ(stepUnitToOccUnit(spelling), code);
      EXPECT_EQ(cerr.text(), "");
    }
  }
}

TEST(StepUnits, OtherNamesFallBackToMetresWithOneWarning) {
  // Input, and the name as the warning shows it: lower-cased, never trimmed.
  const std::pair<std::string, std::string> cases[] = {
      {"meter", "meter"}, {"Millimeter", "millimeter"}, {"mm", "mm"},       {"MM", "mm"},
      {"in", "in"},       {" inch", " inch"},           {"inch ", "inch "},
  };
  for (const auto &[input, shown] : cases) {
    SCOPED_TRACE("'" + input + "'");
    CerrCapture cerr;
    EXPECT_EQ(stepUnitToOccUnit(input), "M");
    EXPECT_EQ(cerr.text(), "Could not determine unit " + shown + " in step file. Using meters instead\n");
  }
}

TEST(StepUnits, KernelAcceptsEveryCode) {
  STEPControl_Controller::Init();  // defines the STEP parameters
  for (const auto &[name, code] : unit_table) {
    SCOPED_TRACE(code);
    const nimbo::test::ScopedStatic unit("write.step.unit", code);
    EXPECT_EQ(Interface_Static::CVal("write.step.unit"), code);
  }
}
