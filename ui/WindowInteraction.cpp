#include "ui/WindowInteraction.h"

namespace orivanta {

WindowInteraction& Interaction() {
    static WindowInteraction interaction;
    return interaction;
}

}  // namespace orivanta
