#include "app/tick_steps.h"

namespace busprobe {

bool TickStepTable::install(TickSlot slot, Step step) {
  const auto index = static_cast<size_t>(slot);
  if (index >= kSlots || steps_[index] || !step) return false;
  steps_[index] = std::move(step);
  return true;
}

bool TickStepTable::installed(TickSlot slot) const {
  const auto index = static_cast<size_t>(slot);
  return index < kSlots && static_cast<bool>(steps_[index]);
}

void TickStepTable::run(const TickContext& context) const {
  for (const Step& step : steps_)
    if (step) step(context);
}

}  // namespace busprobe
