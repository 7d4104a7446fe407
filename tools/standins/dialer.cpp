// dialer: stand-in for the handheld's phone dialer. It takes any command line
// and does nothing visible.
int main() {
    return 0;
}
