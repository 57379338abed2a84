#!/usr/bin/perl
# Net::SNPP::Server on a free port for the SNPP tests: prints the port, serves one client at a time, appends every
# page to LOG as "pager-id TAB message" (line ends as \n). Two-way SEND replies carry tag 4242 and pass code 77.
use strict;
use warnings;
use Net::SNPP::Server;
use Socket;

my ($log) = @ARGV;
$| = 1;
my $server = Net::SNPP::Server->new(Port => 0);
my ($port) = sockaddr_in(getsockname($server->socket()));
print "$port\n";

$server->callback('write_log', sub { });
$server->callback('create_id_and_pin', sub { return (4242, 77); });
$server->callback('process_page', sub {
    my ($pager, $page, $results) = @_;
    my $message = $page->{mess};
    $message =~ s/\n/\\n/g;
    open(my $fh, '>>', $log) or die "cannot append to $log: $!";
    print $fh "$pager->[0]\t$message\n";
    close($fh);
    push(@$results, [$pager, $page]);
    return 1;
});

while (my $client = $server->client()) {
    $server->handle_client($client);
    close($client);
}
