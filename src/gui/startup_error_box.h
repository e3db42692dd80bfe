// The message box that says why the server did not start, for a person who started the
// window from a desktop and never sees stderr.
#pragma once

#include <QMessageBox>
#include <memory>
#include <string>

namespace orv {

// The box, not shown yet: errors (UTF-8, one a line) and what to do about them.
std::unique_ptr<QMessageBox> MakeStartupErrorBox(const std::string& errors);

// Shows the box until it is closed, with an application of its own when there is none
// yet. Needs a display.
void ShowStartupErrors(const std::string& errors);

}  // namespace orv
