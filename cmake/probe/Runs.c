/* Exits 0 when this machine's kernel executes the program at all. */
int main(void) {
    return 0;
}
