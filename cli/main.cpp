// Process entry (placeholder until the request spine lands).
int main() { return 0; }
