// Placeholder: the factory preset maker is written with the preset library.
int main() { return 0; }
