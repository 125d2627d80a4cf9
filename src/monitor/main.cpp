// vgl-monitor: serves the monitor protocol for a Dante server.
int main() { return 0; }
