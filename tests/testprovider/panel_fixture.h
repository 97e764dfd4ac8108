// The panel logic on a control table, beside a real exchange-sim on
// loopback. Each test gets its own data root and current directory, where
// "zemlink.ini" names the simulator's port. The table plays the operator:
// the helpers type into it and click its controls the way the dialog
// forwards those actions.
#pragma once

#include <gtest/gtest.h>

#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "support/exchange_simulator.h"
#include "testprovider/qstring_printer.h"
#include "support/temp_root.h"
#include "testprovider/control_table.h"
#include "testprovider/provider_panel.h"

namespace rigbench::test {

using nlohmann::json;

class PanelTest : public ::testing::Test {
 protected:
  PanelTest() {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(root_.path());
    panel_.initialise();
  }
  ~PanelTest() override {
    panel_.end();
    std::filesystem::current_path(previous_);
  }

  zem::test::ExchangeSimulator& startSimulator(std::vector<std::string> options = {}) {
    sim_ = std::make_unique<zem::test::ExchangeSimulator>(std::move(options));
    std::ofstream("zemlink.ini") << "[RPC]\nPORT=" << sim_->port() << "\n";
    return *sim_;
  }

  // Connects to 127.0.0.1 and registers under `id`; waits for the
  // registration event.
  void connectAndRegister(int id = 7) {
    view_.setText(kServerAddressEdit, QStringLiteral("127.0.0.1"));
    view_.setText(kRegistrationIdEdit, QString::number(id));
    ASSERT_TRUE(panel_.connectToServer());
    ASSERT_TRUE(panel_.registerOrDeregister());
    ASSERT_TRUE(waitUntil([&] { return panel_.members().registered; }));
    ASSERT_EQ(awaitSim("registered")["providerId"], id);
  }

  // Runs the event loop (and with it the poll) until the condition holds.
  template <typename Condition>
  static bool waitUntil(Condition condition, int timeoutMs = 5000) {
    return QTest::qWaitFor(condition, timeoutMs);
  }

  // The next event of this name from the simulator, while the poll runs
  // (the simulator is read in slices of 20 ms between passes of the event
  // loop).
  // Null when none came in time.
  json awaitSim(const std::string& name, int timeoutMs = 5000) {
    json event;
    waitUntil([&] { return !(event = sim_->next(name, 20)).is_null(); }, timeoutMs);
    return event;
  }

  // The operator clicks a check box: its state flips, then the panel reacts.
  void click(int checkId) {
    view_.setChecked(checkId, !view_.isChecked(checkId));
    if (checkId == kEchoCheck) panel_.echoClicked();
    if (checkId == kAutomaticCheck) panel_.automaticClicked();
    if (checkId == kToggleCheck) panel_.toggleClicked();
    if (checkId == kDontShowCheck) panel_.dontShowClicked();
    if (checkId == kLogToFileCheck) panel_.logToFileClicked();
    for (int k = 0; k < kParameterCount; ++k) {
      if (checkId == kReturnParameterChecks[k]) panel_.returnParameterClicked(k);
    }
  }
  // Checks return parameter k (from 1) and types its text.
  void sendParameter(int k, const QString& text) {
    click(kReturnParameterChecks[k - 1]);
    view_.setText(kReturnParameterEdits[k - 1], text);
  }
  void chooseFeature(const char* entry) {
    view_.setText(kSpecialFeatureCombo, QString::fromLatin1(entry));
    panel_.specialFeatureChosen(QString::fromLatin1(entry));
  }

  // Queues a request (or an informational message) at the simulator.
  void send(int ref, const std::vector<std::string>& items = {}, const char* type = "request",
            json ids = json::object()) {
    json command = {{"cmd", "send"}, {"type", type}, {"ref", ref}, {"items", items}};
    command.update(ids);
    sim_->command(command);
  }

  zem::test::TempRoot root_;
  std::filesystem::path previous_;
  std::unique_ptr<zem::test::ExchangeSimulator> sim_;
  ControlTable view_;
  ProviderPanel panel_{view_, QStringLiteral("rigbench")};
};

}  // namespace rigbench::test
