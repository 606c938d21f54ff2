// The context data: one Python object, stored and handed back as itself.
#include "automaton/automaton.hpp"

namespace morvane {

// Each assignment stores the new reference before the old one is released
// (see Object), so the old object's finaliser never sees a dangling field.
void Automaton::set_data(Handle new_data) noexcept { data_ = Object::borrow(new_data); }

void Automaton::update_context(Handle new_data) noexcept { set_data(new_data); }

void Automaton::clear_data() noexcept { data_ = Object::none(); }

}  // namespace morvane
