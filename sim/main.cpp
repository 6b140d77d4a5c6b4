// Placeholder until the simulated device lands.
int main() { return 0; }
