#pragma once

#include <string>

class QWidget;

namespace qz {

// Shows a message in the modal information box, with one OK button and the notice
// caption, owned by the given window; returns once the user has closed it.
void ShowNotice(QWidget* owner, const std::string& message);

} // namespace qz
