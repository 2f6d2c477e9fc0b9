// What a screen reader reads of the windows over AT-SPI: the pairing code and the approval
// question, read from outside the process as Orca would.

#include <gtest/gtest.h>

#include <QMessageBox>
#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/widgets/approval_dialogs.h"
#include "atspi_bus.h"
#include "desktop_fixture.h"
#include "support/child_process.h"
#include "support/qt_spin.h"

namespace tamborix::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// Every object of this application as the reader printed it. The Qt loop keeps running meanwhile:
// the reader's questions are answered by this process.
std::vector<json> readTree() {
    // The application joins the accessibility bus moments after its start (the bus is started on
    // its first request): ask again until the reader finds it.
    for (int attempt = 0;; ++attempt) {
        ChildProcess reader("/usr/bin/python3", {TAMBORIX_ATSPI_READER, "tamborix-atspi-test"},
                            atspiEnvironment(), false);
        std::optional<int> exit;
        spinUntil([&] { return (exit = reader.wait(0ms)).has_value(); }, 30000);
        if (exit == std::optional<int>(1) && attempt < 20) {
            spinUntil([] { return false; }, 250);
            continue;
        }
        EXPECT_EQ(exit, std::optional<int>(0)) << reader.transcript();
        std::vector<json> objects;
        for (const auto& line : reader.lines()) {
            auto j = json::parse(line, nullptr, false);
            if (j.is_object() && j.contains("role")) objects.push_back(std::move(j));
        }
        return objects;
    }
}

bool hasObject(const std::vector<json>& tree, const std::string& name) {
    return std::any_of(tree.begin(), tree.end(), [&](const json& o) { return o["name"] == name; });
}

TEST(ScreenReader, PairingCodeAndApprovalQuestion_ReadOverAtspi) {
    ChildProcess probe("/usr/bin/python3", {"-c", "import pyatspi"}, atspiEnvironment(), false);
    if (probe.wait(20s) != std::optional<int>(0)) GTEST_SKIP() << "no pyatspi: " << probe.transcript();
    DesktopFixture desk;
    desk.ui().showPairingWindow();
    ASSERT_TRUE(desk.waitShown(desk.ui().pairingWindow()));
    const auto code = desk.ui().pairingView()->code();
    ASSERT_TRUE(code);
    auto tree = readTree();
    ASSERT_FALSE(tree.empty()) << "nothing of the application reached the accessibility bus";
    EXPECT_TRUE(hasObject(tree, "Pairing code " + code->substr(0, 4) + "-" + code->substr(4, 4) + "-" +
                                    code->substr(8, 4)))
        << tree.size() << " objects, none names the code";

    desk.ui().dialogs().askApproval("Reader Phone", "AAAA-BBBB", [](Approval) {});
    QMessageBox* dialog = desk.ui().dialogs().current();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(desk.waitShown(dialog));
    tree = readTree();
    const auto question = std::find_if(tree.begin(), tree.end(), [](const json& o) {
        return o["name"] == "Allow \u201CReader Phone\u201D to control this computer?";
    });
    ASSERT_NE(question, tree.end()) << "the approval question is not read";
    EXPECT_NE((*question)["description"].get<std::string>().find("AAAA-BBBB"), std::string::npos)
        << "what allowing means, with the device key, is read with it";
    EXPECT_TRUE(hasObject(tree, "Allow"));
    EXPECT_TRUE(hasObject(tree, "Deny"));
    dialog->reject();
    desk.ui().closePairingWindow();
}

}  // namespace
}  // namespace tamborix::testing
