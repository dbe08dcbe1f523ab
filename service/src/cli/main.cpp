// doorlinkd: the fleet service's command line.
int main() { return 0; }
