#pragma once
// The help page the window shows: the one shipped beside the program, with its site list
// regenerated from the settings file at every start.

#include <QString>

#include <optional>

namespace helpPage {

// Regenerates the site list and returns the page to show. In the portable layout the page
// beside the program is rewritten in place; an installed program's page is copied to the user's
// data folder ($XDG_DATA_HOME/kestrelon/help/index.htm) and regenerated there, leaving the
// installed one untouched. nullopt when there is no page to show.
std::optional<QString> preparedHelpPage();

} // namespace helpPage
