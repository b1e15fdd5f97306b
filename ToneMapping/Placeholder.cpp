// Placeholder until this library's first component lands.
namespace { [[maybe_unused]] int placeholder = 0; }
