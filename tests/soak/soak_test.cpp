// The soak: provider processes against exchange-sim under injected
// failures and a restart of the simulator (see soak_run.h). It runs about
// 60 s; ZEMLINK_SOAK_SECONDS sets another length. The counts go to standard
// output and to soak-report.txt in the current directory of the test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "soak_run.h"
#include "support/temp_root.h"

namespace {

TEST(Soak, ProvidersRideOutFailuresAndARestart) {
  zem::soak::SoakSettings settings;
  if (const char* text = std::getenv("ZEMLINK_SOAK_SECONDS")) settings.seconds = std::max(30.0, std::atof(text));
  const std::filesystem::path reportFile = std::filesystem::absolute("soak-report.txt");

  // The providers share a data root and a current directory with zemlink.ini.
  zem::test::TempRoot root;
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(root.path());
  std::string report;
  std::vector<std::string> failures;
  {
    zem::soak::SoakRun run(settings);
    run.run();
    report = run.report();
    failures = run.failures();
  }
  std::filesystem::current_path(previous);

  std::cout << report;
  std::ofstream(reportFile) << report;
  for (const std::string& failure : failures) ADD_FAILURE() << failure;
}

}  // namespace
