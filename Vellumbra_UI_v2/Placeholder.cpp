namespace { [[maybe_unused]] int placeholder = 0; }
